#!/usr/bin/env bash
# Runs every test of Brindlecove: the core and platform tests natively, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and as Windows programs under Wine; builds the 32-bit Windows edition
# so its structure layouts are checked; runs each fuzzer briefly. Installs what it needs first.
source "$(dirname "$0")/common.sh"

install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

TESTED=(linux linux-asan windows fuzz)
for preset in "${TESTED[@]}" windows-x86; do
    build_preset "$preset"
done

# One CTest run over the tested builds, so the last line is one summary of everything.
mkdir -p build/all
{
    echo "# Every tested build of scripts/test.sh"
    for preset in "${TESTED[@]}"; do echo "subdirs(\"$PWD/build/$preset\")"; done
} >build/all/CTestTestfile.cmake

# One wine server serves every Windows test and is stopped at the end (an idle server would
# otherwise come and go between tests, and linger for half a minute after them).
export WINEPREFIX="$PWD/build/windows/wineprefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the Wine prefix $WINEPREFIX (once, about 10 s)"
    cmake/wine-run.sh "$WINEPREFIX" wineboot --init
    /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wineserver -k 2>/dev/null || true # one left by an earlier run
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT

say "Running the tests (Windows ones under Wine, prefix build/windows/wineprefix)"
ctest --test-dir build/all --output-on-failure -j "$(nproc)"
