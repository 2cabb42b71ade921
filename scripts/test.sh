#!/usr/bin/env bash
# Builds both presets and runs every test: native under ASan/UBSan, Windows under
# Wine in Xvfb, and the fuzzers for a bounded time.
set -euo pipefail
source "$(dirname "$0")/lib/common.sh"
cd "$ROOT"

FUZZ_SECONDS=${KELVANE_FUZZ_SECONDS:-40}  # per target

"$ROOT/scripts/setup.sh"

say "format (.clang-format)"
git ls-files -z '*.h' '*.cpp' \
    | xargs -0 clang-format --dry-run -Werror

say "native build (g++, AddressSanitizer + UBSan)"
cmake --preset native >/dev/null
cmake --build --preset native

say "win32 build (mingw-w64 i686, static)"
cmake --preset win32 >/dev/null
cmake --build --preset win32

status=0
say "native tests"
ctest --preset native 2>&1 | tee "$ROOT/build/ctest-native.log" || status=1

say "Linux package (cmake --workflow --preset linux-deb)"
if cmake --workflow --preset linux-deb >"$ROOT/build/linux-deb.log" 2>&1; then
    deb=$(ls "$ROOT"/build/linux-deb/package/kelvane_*.deb)
    listing=$(dpkg -c "$deb")
    for f in usr/bin/kelvane usr/share/man/man1/kelvane.1.gz usr/lib/systemd/system/kelvane.service \
             usr/lib/udev/rules.d/60-kelvane.rules usr/lib/sysusers.d/kelvane.conf etc/default/kelvane etc/kelvane/kelvane.conf \
             usr/share/doc/kelvane/copyright; do
        grep -q " \./$f\$" <<<"$listing" || { echo "missing from the package: $f"; status=1; }
    done
    control=$ROOT/build/linux-deb/control
    rm -rf "$control" && dpkg-deb -e "$deb" "$control"
    for f in postinst prerm postrm; do
        { [ -x "$control/$f" ] && sh -n "$control/$f"; } || { echo "maintainer script missing, not executable or not sh: $f"; status=1; }
    done
    depends=$(dpkg-deb -f "$deb" Depends)
    if grep -qi hamlib <<<"$depends"; then echo "the package depends on Hamlib: $depends"; status=1; fi
    echo "$(basename "$deb"): Depends: $depends"
else
    tail -30 "$ROOT/build/linux-deb.log"
    status=1
fi

wine_logs=("$ROOT/build/ctest-win32.log" "$ROOT/build/ctest-release.log")
if runs_i386; then
    say "Windows tests under Wine"
    xvfb-run -a -s '-screen 0 1024x768x24' "$ROOT/scripts/lib/wine-session.sh" ctest --preset win32 2>&1 \
        | tee "$ROOT/build/ctest-win32.log" || status=1

    # --- release: the zip as a user gets it (scripts/release.sh), its binaries against Windows XP SP3
    say "release zip and its tests under Wine"
    "$ROOT/scripts/release.sh" || status=1
    xvfb-run -a -s '-screen 0 1024x768x24' "$ROOT/scripts/lib/wine-session.sh" ctest --preset release 2>&1 \
        | tee "$ROOT/build/ctest-release.log" || status=1
# --- end release
else
    say "Windows tests and the release zip's tests SKIPPED: $NO_I386"
    "$ROOT/scripts/release.sh" || status=1
    ctest --preset release -R import-check 2>&1 | tee "$ROOT/build/ctest-release.log" || status=1
    wine_logs=("$ROOT/build/ctest-release.log")
fi

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
for target in settings ctext radioinfo; do
    say "fuzzing $target (${FUZZ_SECONDS}s)"
    corpus=$ROOT/build/fuzz/corpus-$target
    mkdir -p "$corpus"
    cp -n "$ROOT/tests/fuzz/corpus/$target"/* "$corpus"/
    log=$ROOT/build/fuzz/fuzz_$target.log
    if "$ROOT/build/fuzz/tests/fuzz/fuzz_$target" -max_total_time="$FUZZ_SECONDS" -print_final_stats=1 \
            -artifact_prefix="$ROOT/build/fuzz/$target-" "$corpus" >"$log" 2>&1; then
        echo "fuzz_$target: $(grep -oE 'number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$') runs, no crash"
    else
        tail -40 "$log"
        echo "fuzz_$target: CRASH (input saved in build/fuzz/)"
        status=1
    fi
done

# One closing line over the ctest runs.
passed=0 failed=0
for log in "$ROOT"/build/ctest-native.log "${wine_logs[@]}"; do
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1 || true)
    if [ -z "$line" ]; then status=1; continue; fi
    f=$(sed -E 's/.*passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    n=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + n - f)) failed=$((failed + f))
done
[ $status -eq 0 ] && say "all tests passed" || say "SOME TESTS FAILED"
echo "total: $passed passed, $failed failed"
exit $status
