#!/usr/bin/env bash
# The release zip as a user meets it: unpacked into a fresh folder, the
# program's manifest read out of it, the journal example put in place,
# Kelvane.exe started from there beside the simulated host; the journal must
# show the band switches. Then the floor of the binaries that came out of the zip.
#
#   zip_test.sh ZIP SIM_HOST_DIR     (inside one Wine session on a display)
set -euo pipefail
zip=$1 tools=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/lib/station.sh"

work=$(mktemp -d /tmp/kelvane-zip.XXXXXX)
switcher= host=
trap 'kill $host $switcher 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; [ ! -f "${dir:-/nonexistent}/ports.log" ] || tail -20 "$dir/ports.log"; exit 1; }
poll() {  # WHAT COMMAND...: every wait here is for a real event
    local what=$1 n=0
    shift
    until "$@" 2>/dev/null; do
        n=$((n + 1)); [ $n -lt 300 ] || fail "$what within 30 s"; sleep 0.1
    done
}
wait_for() { poll "$3" grep -q -- "$2" "$1"; }  # FILE PATTERN WHAT

[ -f "$zip" ] || fail "no $zip: make it with scripts/release.sh"
name=$(basename "$zip" .zip)
version=${name#Kelvane-}; version=${version%-win32}
(cd "$work" && cmake -E tar xf "$zip")
dir=$work/$name
[ "$(ls "$work")" = "$name" ] || fail "the zip must hold one folder $name, not: $(ls "$work")"
for f in Kelvane.exe KorvPortDll.dll README.txt LICENSE.txt guide/index.html \
         examples/journal/KorvPortDll.cfg examples/hardware/KorvPortDll.cfg \
         examples/ftdi/KorvPortDll.cfg examples/hidrelay/KorvPortDll.cfg; do
    [ -s "$dir/$f" ] || fail "the zip lacks $f"
done
grep -q $'MIT License\r$' "$dir/LICENSE.txt" || fail "LICENSE.txt is not the MIT licence with CRLF line ends"
for example in "$dir"/examples/*/; do
    example=$(basename "$example")
    grep -qF "examples\\$example\\" "$dir/README.txt" || fail "README.txt does not list examples\\$example\\"
done
# The version resource of both binaries carries the version in the zip's name.
for b in Kelvane.exe KorvPortDll.dll; do
    rc=$(i686-w64-mingw32-windres -i "$dir/$b" -O rc 2>/dev/null) || fail "no resources in $b"
    grep -q "VALUE \"ProductVersion\", \"$version\"" <<<"$rc" || fail "$b: no ProductVersion $version"
    grep -q 'VALUE "LegalCopyright", ".*MIT License' <<<"$rc" || fail "$b: no licence in the copyright"
    [ "$b" != Kelvane.exe ] || program_rc=$rc
done

# The application manifest, resource 1 of type 24, as Windows reads it at start.
manifest=$(awk '/^1 24( |$)/ { m = 1; next } m && /^END/ { exit }
                m && /^ *"/ { sub(/^ *"/, ""); sub(/"$/, ""); gsub(/""/, "\""); gsub(/\\n/, "\n"); printf "%s", $0 }' \
           <<<"$program_rc")
[ -n "$manifest" ] || fail "Kelvane.exe has no manifest (resource 1 of type 24)"
xmllint --noout - <<<"$manifest" || fail "the manifest is not well-formed XML"
el() { echo "*[local-name()='$1' and namespace-uri()='urn:schemas-microsoft-com:$2']"; }
app="/$(el assembly asm.v1)"
run="$app/$(el trustInfo asm.v3)/$(el security asm.v3)/$(el requestedPrivileges asm.v3)/$(el requestedExecutionLevel asm.v3)"
os="$app/$(el compatibility compatibility.v1)/$(el application compatibility.v1)/$(el supportedOS compatibility.v1)"
dpi="$app/$(el application asm.v3)/$(el windowsSettings asm.v3)/*[local-name()='dpiAware']"
IFS=. read -r major minor patch <<<"$version"
# Rows: what, XPath, what it must give. The ids are Vista, 7, 8, 8.1 and 10/11. XP SP3
# refuses elements of asm.v1 it does not know, and the common-controls dependency
# would change the dialogs' look: asm.v1 holds only the assembly and its identity.
while IFS='|' read -r what expr want; do
    got=$(xmllint --xpath "$expr" - <<<"$manifest" 2>/dev/null) || true
    [ "$got" = "$want" ] || fail "manifest: $what is '$got', not '$want'"
done <<EOF_ROWS
identity|string($app/$(el assemblyIdentity asm.v1)/@version)|$major.$minor.${patch:-0}.0
execution level|concat($run/@level, ' ', $run/@uiAccess)|asInvoker false
supported systems|concat(count($os), count($os[@Id='{e2011457-1546-43c5-a5fe-008deee3d3f0}']), count($os[@Id='{35138b9a-5d96-4fbd-8e2d-a2440225f93a}']), count($os[@Id='{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}']), count($os[@Id='{1f676c76-80e1-4239-95bb-83d0f6d0da78}']), count($os[@Id='{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']))|511111
DPI awareness|concat(namespace-uri($dpi), ' ', normalize-space($dpi))|http://schemas.microsoft.com/SMI/2005/WindowsSettings true
elements in asm.v1 besides the assembly and its identity|count(//*[namespace-uri()='urn:schemas-microsoft-com:asm.v1'][local-name()!='assembly' and local-name()!='assemblyIdentity'])|0
EOF_ROWS

# The dry run of the guide: the journal example beside the program.
cp "$dir/examples/journal/KorvPortDll.cfg" "$dir/"
write_demo_station "$dir/Kelvaneer12.ini"
cd "$dir"
# Two rounds: a switcher slow to start on a busy machine still meets 20m then 40m.
wine "$tools/KorvSimHost.exe" --steps 14200000:2000,7100000:2000 --repeat 2 > "$work/host.out" &
host=$!
wait_for "$work/host.out" '^ready' "the simulated host did not get ready"
wine Kelvane.exe &
switcher=$!
wait_for ports.log 'DriverOutPB 0x0278 0x05' "no 20m byte (0x05) in the journal"
switched_to_40m() { sed -n '/DriverOutPB 0x0278 0x05/,$p' ports.log | grep -q 'DriverOutPB 0x0278 0x03'; }
poll "no switch from there to the 40m byte (0x03) in the journal" switched_to_40m
grep -q "LoadPortDriver - - backend=journal dir=Z:${dir//\//\\\\}\\\\" ports.log ||
    fail "the library did not load its journal backend from the unpacked folder"
# The host's end ends the switcher, which saves beside itself.
n=0
while kill -0 "$switcher" 2>/dev/null; do
    n=$((n + 1)); [ $n -lt 300 ] || fail "the switcher did not end with the host"; sleep 0.1
done
wait "$switcher" || true
switcher=
wait "$host" || true
host=
grep -q 'UnloadPortDriver' ports.log || fail "the library was not unloaded at the end"
[ "$(od -An -t d4 -j 120 -N 4 Kelvaneer12.ini | tr -d ' ')" -eq 632 ] || fail "the settings were not saved"
echo "journal of the dry run:"
sed 's/^/  /' ports.log

"$here/../../scripts/check-imports.sh" "$dir/Kelvane.exe" "$dir/KorvPortDll.dll"
echo "PASS: the zip unpacks, runs a dry run and loads on Windows XP SP3"
