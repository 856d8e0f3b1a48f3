#!/usr/bin/env bash
# Brindlecove doing its job on this machine, without root: builds the Linux program, then runs it
# in a private network namespace of its own (nothing outside it is touched or reached) with two
# simulated dial-up uplinks, served by the stand-in pppd of the tests. Brindlecove dials both,
# builds the routing table, puts back a default route deleted by hand, the local link drops,
# Brindlecove redials it and rebuilds the table; then the kernel's table is summed up and
# everything is cleaned away.
source "$(dirname "$0")/common.sh"

LOCAL=local-adsl
INTERNATIONAL=international-adsl
DROP_AFTER=6 # seconds the local link stays up before it drops

# ---- Inside the namespace ----------------------------------------------------------------------

# ip's view of the main table: every route through a gateway counted per link, then the default
# routes. The stand-in's links carry no traffic, so the kernel marks their routes "linkdown".
summary() {
    local table pidfile name link address
    table=$(ip -4 route show table main | sed 's/ linkdown//; s/ *$//')
    printf '    %-20s %-10s %-16s %s\n' "connection" "link" "address" "routes through a gateway"
    for pidfile in "$run"/ppp-*.pid; do
        [ -e "$pidfile" ] || continue
        name=${pidfile##*/ppp-}
        name=${name%.pid}
        link=$(sed -n 2p "$pidfile")
        address=$(ip -4 -o addr show dev "$link" | awk '{print $4}')
        printf '    %-20s %-10s %-16s %5d\n' "$name" "$link" "$address" \
            "$(grep -v '^default' <<<"$table" | grep -c " via .* dev $link " || true)"
    done
    echo "    default routes (the lower metric wins):"
    grep '^default' <<<"$table" | sed 's/^/      /'
    echo "    where the kernel would send (a lookup only; nothing is sent):"
    local kind
    for address in 137.158.1.1 146.64.1.1 192.0.2.1 198.51.100.1; do
        case "$address" in
        137.* | 146.*) kind="a local network" ;;
        *) kind="anywhere else" ;;
        esac
        printf '      %-15s %-16s -> %s\n' "$address" "($kind)" "$(ip -4 route get "$address" \
            2>&1 | head -1 | sed 's/ uid [0-9]*//; s/ src .*//; s/ *$//; s/^[^ ]* //')"
    done
}

# wait_log TEXT COUNT SECONDS: waits until Brindlecove has logged TEXT COUNT times.
wait_log() {
    local until=$((SECONDS + $3))
    while [ "$(grep -c -- "$1" "$work/stdout" || true)" -lt "$2" ]; do
        if ! kill -0 "$brindlecove" 2>/dev/null || [ $SECONDS -ge $until ]; then
            echo "Brindlecove did not log \"$1\" in time; its error output:" >&2
            cat "$work/stderr" >&2
            exit 1
        fi
        sleep 0.1
    done
}

cleanup() {
    [ -n "${brindlecove:-}" ] && kill "$brindlecove" 2>/dev/null
    [ -n "${tailer:-}" ] && kill "$tailer" 2>/dev/null
    local pidfile
    for pidfile in "$run"/ppp-*.pid; do
        [ -e "$pidfile" ] && kill "$(head -1 "$pidfile")" 2>/dev/null
    done
    sleep 0.3 # the stand-in removes its links and pid files on SIGTERM
    rm -rf "$work"
}

inside() {
    work=$(mktemp -d /tmp/brindlecove-demo.XXXXXX)
    run="$work/run"
    trap cleanup EXIT
    trap 'exit 130' INT TERM HUP # interrupted: still clean up
    mkdir -p "$work/app" "$work/peers" "$run"
    ip link set lo up

    say "Two simulated uplinks: pppd peers $LOCAL and $INTERNATIONAL"
    # The stand-in pppd reads its part from the peers file: the addresses it negotiates, and when
    # the link goes down by itself.
    printf '# standin: drop-after %s 10.64.1.2 10.64.1.1\nplugin rp-pppoe.so eth0\nuser "demo@local"\n' \
        "$DROP_AFTER" >"$work/peers/$LOCAL"
    printf '# standin: up 10.64.2.2 10.64.2.1 1\nplugin rp-pppoe.so eth1\nuser "demo@intl"\n' \
        >"$work/peers/$INTERNATIONAL"
    echo "    $LOCAL: comes up as 10.64.1.2 (peer 10.64.1.1) and drops after ${DROP_AFTER} s"
    echo "    $INTERNATIONAL: comes up as 10.64.2.2 (peer 10.64.2.1) after 1 s"

    say "Brindlecove installed alone in $work/app, with its settings file beside it"
    cp build/linux/app/brindlecove "$work/app/"
    cat >"$work/app/brindlecove.ini" <<INI
[CONFIG]
ENABLED=1
LOCALCONNECTION=$LOCAL
AUTORECONNECTLOCAL=1
INTCONNECTION=$INTERNATIONAL
AUTORECONNECTINT=1
AUTOROUTE=1
MINIMIZE=0
INI
    sed 's/^/    /' "$work/app/brindlecove.ini"

    say "Starting Brindlecove (its own output follows, marked with |)"
    : >"$work/stdout"
    BRINDLECOVE_PPPD="$PWD/testing/linux/pppd-standin" BRINDLECOVE_PPP_PEERS="$work/peers" \
        BRINDLECOVE_PPP_SECRETS="$work" BRINDLECOVE_PPP_RUNDIR="$run" \
        "$work/app/brindlecove" >"$work/stdout" 2>"$work/stderr" &
    brindlecove=$!
    tail -n +1 -f --pid="$brindlecove" "$work/stdout" | sed -u 's/^/    | /' &
    tailer=$! # ends soon after Brindlecove

    wait_log "Finished creating routing table" 1 30
    sleep 0.2
    say "The routing table after the first build"
    summary

    say "Deleting the international default route by hand, as another program might"
    echo "    ip route del default via 10.64.2.1 metric 1"
    local started_ns gone
    started_ns=$(date +%s%N)
    ip route del default via 10.64.2.1 metric 1
    gone=0
    until ip -4 route show default | grep -q 'via 10.64.2.1'; do
        gone=$((gone + 1))
        [ "$gone" -lt 500 ] || { echo "Brindlecove did not put it back in 5 s" >&2; exit 1; }
        sleep 0.01
    done
    echo "    Brindlecove put it back after $((($(date +%s%N) - started_ns) / 1000000)) ms:"
    ip -4 route show default | sed 's/ linkdown//; s/ *$//; s/^/      /'
    wait_log "Routing table changed" 1 5

    say "Waiting for the local link to drop (the stand-in pppd ends it, as a lost line would)"
    wait_log "Disconnected from $LOCAL" 1 30
    wait_log "Finished creating routing table" 2 30
    sleep 0.2
    say "The routing table after the redial and the rebuild"
    summary

    say "Stopping Brindlecove with SIGTERM (it would save settings changed since the last save)"
    kill -TERM "$brindlecove"
    wait "$brindlecove" && echo "    Brindlecove ended normally" ||
        echo "    Brindlecove ended with status $?"
    brindlecove=
    wait "$tailer" || true
    tailer=
    if [ -s "$work/stderr" ]; then
        echo "    Its warnings:"
        sed 's/^/    ! /' "$work/stderr"
    fi
    say "Cleaning up: the simulated links, $work; the namespace ends with this script"
}

if [ "${BRINDLECOVE_DEMO_INSIDE:-}" = 1 ]; then
    inside
    exit 0
fi

# ---- On the machine ----------------------------------------------------------------------------

install_packages "${LINUX_PACKAGES[@]}"
say "Building the Linux program (preset 'linux', build/linux/app/brindlecove)"
cmake --preset linux >/dev/null
cmake --build --preset linux --target brindlecove

if ! unshare -rn true 2>/dev/null; then
    echo "This machine does not allow an unprivileged user and network namespace" \
        "(unshare -rn), which the demonstration needs so that it touches no real network." >&2
    echo "The program is built: build/linux/app/brindlecove (see README.md)." >&2
    exit 1
fi
say "Entering a private user and network namespace (unshare -rn): a network of our own"
started=$SECONDS
BRINDLECOVE_DEMO_INSIDE=1 unshare -rn "$PWD/scripts/run.sh"
say "Done in $((SECONDS - started)) s. The program: build/linux/app/brindlecove (README.md tells more)"
