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

# Wine's server outlives the tests by half a minute unless it is told to go.
stop_wine() { WINEPREFIX="$PWD/build/windows/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null || true; }
trap stop_wine EXIT

say "Running the tests (Windows ones under Wine, prefix build/windows/wineprefix)"
ctest --test-dir build/all --output-on-failure -j "$(nproc)"
