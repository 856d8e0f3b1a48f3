# Shared by the README's two commands: where we are, how we talk, how Debian packages come in.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { printf '\n==> %s\n' "$*"; }

# Packages the Linux program's build needs (its preset also checks the formatting, the stand-in
# pppd drives iproute2, CPack's Debian package asks dpkg-shlibdeps and file), those the Windows
# edition adds, and those of the tests (systemd-analyze checks the unit, and its manual page with
# man).
LINUX_PACKAGES=(cmake ninja-build g++ pkg-config libsystemd-dev libgtest-dev libgmock-dev googletest
    clang-format iproute2 dpkg-dev file)
BUILD_PACKAGES=("${LINUX_PACKAGES[@]}" g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix)
TEST_PACKAGES=(wine64 xvfb clang libclang-rt-14-dev systemd man-db)

# install_packages NAME...: installs what of NAME... is missing, with apt-get.
install_packages() {
    local missing=() package
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed' ||
            missing+=("$package")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        say "Debian packages: all present ($*)"
        return
    fi
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    say "Installing Debian packages: ${missing[*]}"
    local log
    log=$(mktemp)
    if ! { "${sudo[@]}" apt-get update -q &&
           DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q \
               --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log"
        rm -f "$log"
        echo "apt-get could not install: ${missing[*]}" >&2
        exit 1
    fi
    rm -f "$log"
}

# build_preset NAME: configures and builds one CMake preset into build/NAME.
build_preset() {
    say "Building preset '$1' into build/$1"
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
}
