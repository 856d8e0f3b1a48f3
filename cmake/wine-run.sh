#!/bin/sh
# Runs a Windows test program under Wine for CTest: wine-run.sh PREFIX PROGRAM [ARGS...]
#
# Wine stays quiet (no debug channels, no Mono/Gecko installers, no menu entries) and uses a prefix
# of the build's own, created on first use. Wine's helper processes inherit the program's standard
# handles and outlive it; a runner that reads a pipe would wait for them, so the program writes to
# files that are printed once it has exited.
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
mkdir -p "$prefix"
out=$(mktemp) || exit 1
err=$(mktemp) || exit 1
trap 'rm -f "$out" "$err"' EXIT
run() { /usr/lib/wine/wine64 "$@" >"$out" 2>"$err" </dev/null; }
run "$@"
rc=$?
# A program that starts while the wine server of an idle prefix is shutting down loses its
# connection before it runs; that is Wine's start-up race, not the program's failure: start again.
if [ $rc -ne 0 ] && grep -q -e '^wine client error' -e 'could not connect to wineserver' "$err"; then
    sleep 1
    run "$@"
    rc=$?
fi
cat "$out"
# The first start of a new prefix reports its creation; that is not the program's output.
grep -v -e '^wine: created the configuration directory' \
        -e '^wine: configuration in .* has been updated' \
        -e 'syswow64.*c0000135' "$err" >&2
exit $rc
