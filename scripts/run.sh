#!/usr/bin/env bash
# Builds both editions of Brindlecove and lists what was built. Installs what it needs first.
source "$(dirname "$0")/common.sh"

install_packages "${BUILD_PACKAGES[@]}"

for preset in linux windows; do
    build_preset "$preset"
done

say "Built"
for preset in linux windows; do
    echo "  $preset edition (build/$preset):"
    for folder in app ras routing tests; do
        [ -d "build/$preset/$folder" ] || continue
        find "build/$preset/$folder" -maxdepth 1 -type f \( -name '*.a' -o -name 'brindlecove*' -perm -u+x \)
    done | sort | while read -r file; do
        printf '    %-60s %9d bytes\n' "$file" "$(stat -c %s "$file")"
    done
done
cat <<'TXT'

build/linux/app/brindlecove is the Linux program (headless; pppd peers, rtnetlink routes) and
build/windows/app/brindlecove.exe the Windows program; the rest are libraries and test programs.
scripts/test.sh runs every test.
TXT
