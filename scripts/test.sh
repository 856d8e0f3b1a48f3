#!/usr/bin/env bash
# Runs every test of Brindlecove: the core and platform tests natively, under AddressSanitizer and
# UndefinedBehaviorSanitizer, and as Windows programs under Wine; builds the 32-bit Windows edition
# so its structure layouts are checked; runs each fuzzer briefly; builds the Debian package, which
# the native tests check. Installs what it needs first.
source "$(dirname "$0")/common.sh"

install_packages "${BUILD_PACKAGES[@]}" "${TEST_PACKAGES[@]}"

TESTED=(linux linux-asan windows fuzz)
for preset in "${TESTED[@]}" windows-x86; do
    build_preset "$preset"
done

# The Debian package, made anew (its preset builds the `package` target) and named for the tests.
rm -f build/linux-package/brindlecove_*.deb
build_preset linux-package
packages=(build/linux-package/brindlecove_*.deb)
export BRINDLECOVE_PACKAGE="$PWD/${packages[0]}"

# One CTest run over the tested builds, so the last line is one summary of everything.
mkdir -p build/all
{
    echo "# Every tested build of scripts/test.sh"
    for preset in "${TESTED[@]}"; do echo "subdirs(\"$PWD/build/$preset\")"; done
} >build/all/CTestTestfile.cmake

# The Windows window tests draw on a virtual X display of their own, stopped at the end.
Xvfb :99 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=:99
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X99 ] && break; sleep 0.1; done

# One wine server serves every Windows test and is stopped at the end (an idle server would
# otherwise come and go between tests, and linger for half a minute after them). It is started
# after DISPLAY is set: its desktop keeps the display it started with.
export WINEPREFIX="$PWD/build/windows/wineprefix"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    say "Creating the Wine prefix $WINEPREFIX (once, about 10 s)"
    cmake/wine-run.sh "$WINEPREFIX" wineboot --init
    /usr/lib/wine/wineserver -w
fi
/usr/lib/wine/wineserver -k 2>/dev/null || true # one left by an earlier run
/usr/lib/wine/wineserver -w
# Without a window manager, destroying a shown window waits 2 s unless Wine leaves the window
# unmanaged.
cmake/wine-run.sh "$WINEPREFIX" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    >/dev/null
/usr/lib/wine/wineserver -w
/usr/lib/wine/wineserver -p
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true; kill "$xvfb_pid" 2>/dev/null || true' EXIT

say "Running the tests (Windows ones under Wine and Xvfb, prefix build/windows/wineprefix;"\
" the window tests save screenshots of the tabs as build/windows/tests/window-*.bmp)"
ctest --test-dir build/all --output-on-failure -j "$(nproc)"
