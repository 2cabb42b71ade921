#!/usr/bin/env bash
# Plants one-line faults from a table, one at a time, and tells which test
# catches each: the native suite first, then (for code the Windows build
# compiles) the Windows suite under Wine. Prints a Markdown table.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

usage() {
    cat <<'EOF'
Usage: scripts/faults.sh [--check] [--no-baseline] [--only ID,ID...] TABLE

Plants each fault of TABLE in the source tree, rebuilds, runs the suites until
the first failure and restores the file with git checkout. The Markdown table
goes to stdout; logs go to build/faults/<table>/.

TABLE has one fault per line, fields separated by TABs; '#' starts a comment:
  ID  LAYER  FILE  SEARCH  REPLACE  WHAT
SEARCH must occur exactly once in FILE and is replaced by REPLACE. In both,
\n stands for a newline, \t for a tab and \\ for a backslash (so that lines
around the changed one can make SEARCH unique); any other backslash is itself.

  --check        only verify that every fault applies; build and run nothing
  --no-baseline  skip the run of both suites on the unchanged tree (it must
                 pass, or no fault result would mean anything)
  --only IDS     plant only these faults
EOF
}

check_only=0 baseline=1 only=""
while [ $# -gt 0 ]; do
    case $1 in
    --check) check_only=1 ;;
    --no-baseline) baseline=0 ;;
    --only) only=,$2,; shift ;;
    -h | --help) usage; exit 0 ;;
    -*) echo "faults.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
    *) break ;;
    esac
    shift
done
[ $# -eq 1 ] || { usage >&2; exit 2; }
table=$1
[ -f "$table" ] || { echo "faults.sh: no table $table" >&2; exit 2; }

# plant apply|dry FILE SEARCH REPLACE: the exact, single-occurrence replacement
# (dry: only check that SEARCH occurs once). plant show - SEARCH REPLACE: the
# lines that differ, for the report.
plant() {
    perl -e '
        use strict; use warnings;
        my ($mode, $file, $search, $replace) = @ARGV;
        for ($search, $replace) { s/\\(n|t|\\)/$1 eq "n" ? "\n" : $1 eq "t" ? "\t" : "\\"/ge; }
        if ($mode eq "show") {
            my @a = split /\n/, $search, -1; my @b = split /\n/, $replace, -1;
            while (@a && @b && $a[0] eq $b[0]) { shift @a; shift @b; }
            while (@a && @b && $a[-1] eq $b[-1]) { pop @a; pop @b; }
            s/^\s+|\s+$//g for @a, @b;
            @a = grep { length } @a; @b = grep { length } @b;
            print join(" / ", @a), "\t", join(" / ", @b), "\n";
            exit 0;
        }
        open my $in, "<", $file or die "faults.sh: cannot read $file: $!\n";
        local $/; my $text = <$in>; close $in;
        my ($count, $at, $pos) = (0, -1, 0);
        while ((my $i = index($text, $search, $pos)) >= 0) { $count++; $at = $i if $at < 0; $pos = $i + 1; }
        die "faults.sh: $file: the search text occurs $count times, not once\n" if $count != 1;
        exit 0 if $mode eq "dry";
        substr($text, $at, length $search) = $replace;
        open my $out, ">", $file or die "faults.sh: cannot write $file: $!\n";
        print $out $text; close $out or die "faults.sh: cannot write $file: $!\n";
    ' "$@"
}

# Rows as parallel arrays; every row is checked before anything is built.
ids=() layers=() files=() searches=() replaces=() whats=()
lineno=0 bad=0
while IFS= read -r line || [ -n "$line" ]; do
    lineno=$((lineno + 1))
    [[ -z "${line//[[:space:]]/}" || $line =~ ^[[:space:]]*# ]] && continue
    # Split by hand: read would merge the two TABs around an empty REPLACE.
    fields=() rest=$line
    while [[ $rest == *$'\t'* ]]; do
        fields+=("${rest%%$'\t'*}")
        rest=${rest#*$'\t'}
    done
    fields+=("$rest")
    id=${fields[0]} layer=${fields[1]:-} file=${fields[2]:-} search=${fields[3]:-} replace=${fields[4]:-} what=${fields[5]:-}
    if [ ${#fields[@]} -ne 6 ] || [ -z "$search" ] || [ -z "$what" ]; then
        echo "faults.sh: $table:$lineno: want 6 TAB-separated fields" >&2
        bad=1
        continue
    fi
    [ -n "$only" ] && [[ $only != *",$id,"* ]] && continue
    if [ ! -f "$file" ]; then
        echo "faults.sh: $table:$lineno ($id): no file $file" >&2
        bad=1
        continue
    fi
    if ! git diff --quiet HEAD -- "$file"; then
        echo "faults.sh: $file has local changes; restoring it would lose them" >&2
        bad=1
        continue
    fi
    if ! err=$(plant dry "$file" "$search" "$replace" 2>&1); then
        echo "$table:$lineno ($id): $err" >&2
        bad=1
        continue
    fi
    ids+=("$id") layers+=("$layer") files+=("$file") searches+=("$search") replaces+=("$replace") whats+=("$what")
done <"$table"
[ $bad -eq 0 ] || exit 1
[ ${#ids[@]} -gt 0 ] || { echo "faults.sh: no fault selected" >&2; exit 1; }
echo "${#ids[@]} faults apply cleanly" >&2
[ $check_only -eq 1 ] && exit 0

logs=$ROOT/build/faults/$(basename "$table" .txt)
mkdir -p "$logs"

planted=""
restore() {
    if [ -n "$planted" ]; then
        git checkout -- "$planted"
        planted=""
    fi
}
trap 'restore' EXIT
trap 'restore; exit 130' INT TERM

build() {  # preset log
    { cmake --preset "$1" >/dev/null && cmake --build --preset "$1"; } >"$2" 2>&1
}

# Whether a preset compiles FILE (as a source or an included header). Headers
# may be reached through links in an include root, so paths are resolved. With
# CCACHE_BASEDIR the paths are relative to the directory the compiler ran in,
# the one holding the target's CMakeFiles.
compiles() {  # preset file
    local dfile path
    while IFS= read -r -d '' dfile; do
        while IFS= read -r path; do
            [[ $path == /* ]] || path=${dfile%%/CMakeFiles/*}/$path
            [ "$(realpath -m "$path")" = "$ROOT/$2" ] && return 0
        done < <(grep -ohE -- "[^[:space:]]*/$2([[:space:]]|$)" "$dfile" | sed -E 's/[[:space:]]+$//' | sort -u)
    done < <(find "$ROOT/build/$1" -name '*.d' -print0 | xargs -0 grep -lFZ -- "$2" 2>/dev/null)
    return 1
}

# First failing test of a ctest log, empty when every test passed.
first_failure() {
    sed -n '/The following tests FAILED:/,$p' "$1" | sed -nE 's/^[[:space:]]*[0-9]+ - ([^ ]+) .*/\1/p' | head -1
}

run_native() {  # log
    ctest --preset native --stop-on-failure -j "$(nproc)" >"$1" 2>&1
}

run_win32() {  # log
    xvfb-run -a -s '-screen 0 1024x768x24' "$ROOT/scripts/lib/wine-session.sh" \
        ctest --preset win32 --stop-on-failure >"$1" 2>&1
}

# The packages and a warmed Wine prefix, as scripts/test.sh has them.
"$ROOT/scripts/setup.sh" >&2
say "building both presets" >&2
build native "$logs/build-native.log" || { tail -30 "$logs/build-native.log" >&2; exit 1; }
build win32 "$logs/build-win32.log" || { tail -30 "$logs/build-win32.log" >&2; exit 1; }
# Without 32-bit programs there is no Wine run: a fault only the Windows suite
# could catch is reported as not run, never as missed.
wine=1
runs_i386 || { wine=0; echo "no Windows suite: $NO_I386" >&2; }

if [ $baseline -eq 1 ]; then
    say "baseline: both suites on the unchanged tree" >&2
    start=$SECONDS
    run_native "$logs/baseline-native.log" || { echo "native suite fails without a fault: $logs/baseline-native.log" >&2; exit 1; }
    [ $wine -eq 0 ] || run_win32 "$logs/baseline-win32.log" || { echo "Windows suite fails without a fault: $logs/baseline-win32.log" >&2; exit 1; }
    echo "baseline passed in $((SECONDS - start)) s" >&2
fi

md() { printf '%s' "$1" | sed 's/|/\\|/g'; }

rows=() caught=0
for k in "${!ids[@]}"; do
    id=${ids[$k]} file=${files[$k]}
    say "$id: ${whats[$k]} ($file)" >&2
    start=$SECONDS
    uses_native=0 uses_win32=0
    compiles native "$file" && uses_native=1
    compiles win32 "$file" && uses_win32=1
    planted=$file
    plant apply "$file" "${searches[$k]}" "${replaces[$k]}"

    result="missed" by="" where=""
    if [ $uses_native -eq 1 ]; then
        if ! build native "$logs/$id-build-native.log"; then
            result="build" where="native build"
            by=$(grep -m1 -E 'error' "$logs/$id-build-native.log" | sed -E 's|^'"$ROOT"'/||' | cut -c1-100)
        elif ! run_native "$logs/$id-native.log"; then
            result="caught" where="native" by=$(first_failure "$logs/$id-native.log")
        fi
    fi
    if [ "$result" = missed ] && [ $uses_win32 -eq 1 ] && [ $wine -eq 0 ]; then
        result="not run" where="" by="the Windows suite cannot run here"
    elif [ "$result" = missed ] && [ $uses_win32 -eq 1 ]; then
        if ! build win32 "$logs/$id-build-win32.log"; then
            result="build" where="win32 build"
            by=$(grep -m1 -E 'error' "$logs/$id-build-win32.log" | sed -E 's|^'"$ROOT"'/||' | cut -c1-100)
        elif ! run_win32 "$logs/$id-win32.log"; then
            result="caught" where="Wine" by=$(first_failure "$logs/$id-win32.log")
        fi
    fi
    [ $uses_native -eq 0 ] && [ $uses_win32 -eq 0 ] && result="not built"
    restore
    [ "$result" = missed ] || [ "$result" = "not built" ] || [ "$result" = "not run" ] || caught=$((caught + 1))

    IFS=$'\t' read -r old new < <(plant show "$file" "${searches[$k]}" "${replaces[$k]}")
    verdict=$result
    [ "$result" = caught ] && verdict="caught ($where)"
    [ "$result" = build ] && verdict="build fails ($where)"
    change="\`$(md "$old")\` → \`$(md "$new")\`"
    [ -n "$new" ] || change="\`$(md "$old")\` removed"
    rows+=("| $id | ${layers[$k]} | \`$file\` | $(md "${whats[$k]}") | $change | $verdict | $(md "${by:-—}") | $((SECONDS - start)) s |")
    echo "$id: $verdict ${by:+by $by} ($((SECONDS - start)) s)" >&2
done

# Leave the build trees matching the restored sources.
say "rebuilding the restored tree" >&2
build native "$logs/build-native.log" && build win32 "$logs/build-win32.log" || echo "rebuild failed; see $logs" >&2

echo "| id | layer | file | fault | change | result | first failing test | time |"
echo "|---|---|---|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
echo "$caught of ${#ids[@]} faults caught."
