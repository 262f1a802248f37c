#!/usr/bin/env bash
# The wine session of a test run: one temporary WINEPREFIX with one persistent
# wineserver, shared by every Windows test of the run and stopped at its end.
#
#   wine_session.sh up STATE     make the prefix, start and boot the server
#   wine_session.sh down STATE   stop every process of the prefix by its pid, remove it
#
# STATE is a file that records the prefix and the server's pid for wine_lib.sh.
# Wine links dosdevices/com1... to the machine's /dev/ttyS* when the prefix
# boots; those links are removed before any test runs, so a test reaches only the
# pseudo-terminals it maps itself (COM5 and above).
set -euo pipefail
action=$1
state=$2
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# The pids of the processes that run in this prefix (wine's helpers and ours).
prefix_pids() {
    local prefix=$1 dir pid
    for dir in /proc/[0-9]*; do
        pid=${dir#/proc/}
        [ "$pid" = "$$" ] && continue
        tr '\0' '\n' 2>/dev/null < "$dir/environ" | grep -qxF "WINEPREFIX=$prefix" && echo "$pid"
    done
    return 0
}

wait_gone() {
    local pid=$1 tries=100
    while kill -0 "$pid" 2>/dev/null && [ $tries -gt 0 ]; do
        sleep 0.05
        tries=$((tries - 1))
    done
    ! kill -0 "$pid" 2>/dev/null
}

stop_session() {
    [ -f "$state" ] || return 0
    local WINEPREFIX="" WINESERVER_PID=""
    # shellcheck disable=SC1090
    . "$state"
    if [ -n "$WINEPREFIX" ] && [ -d "$WINEPREFIX" ]; then
        local pids
        pids=$(prefix_pids "$WINEPREFIX")
        for pid in $pids; do
            [ "$pid" = "$WINESERVER_PID" ] || kill -KILL "$pid" 2>/dev/null || true
        done
    fi
    if [ -n "$WINESERVER_PID" ] && kill -0 "$WINESERVER_PID" 2>/dev/null; then
        kill -TERM "$WINESERVER_PID"
        wait_gone "$WINESERVER_PID" || kill -KILL "$WINESERVER_PID" 2>/dev/null || true
    fi
    case "$WINEPREFIX" in
        */roderavo-wine.*) rm -rf "$WINEPREFIX" "$WINEPREFIX.log" ;;
    esac
    rm -f "$state"
}

case "$action" in
    up)
        stop_session  # a session a killed run left behind
        prefix=$(mktemp -d "${TMPDIR:-/tmp}/roderavo-wine.XXXXXX")
        export WINEPREFIX=$prefix
        log=$prefix.log
        # Wine's helpers inherit the output of whoever starts them: never ctest's pipes.
        setsid wineserver -p -f > "$log" 2>&1 < /dev/null &
        server=$!
        printf 'WINEPREFIX=%s\nWINESERVER_PID=%s\n' "$prefix" "$server" > "$state"
        started=$(date +%s%N)
        if ! wineboot -i >> "$log" 2>&1 < /dev/null; then
            echo "wine_session: wineboot failed; its log:" >&2
            cat "$log" >&2
            exit 1
        fi
        if ! kill -0 "$server" 2>/dev/null; then
            echo "wine_session: the wineserver (pid $server) did not stay up" >&2
            exit 1
        fi
        # Wine's own COM links point at the machine's serial devices.
        rm -f "$prefix"/dosdevices/com[0-9]*
        if compgen -G "$prefix/dosdevices/com*" > /dev/null; then
            echo "wine_session: COM links remain in $prefix/dosdevices" >&2
            exit 1
        fi
        echo "wine_session: prefix $prefix, wineserver pid $server," \
            "booted in $((($(date +%s%N) - started) / 1000000)) ms"
        ;;
    down)
        stop_session
        ;;
    *)
        echo "usage: wine_session.sh up|down STATE" >&2
        exit 2
        ;;
esac
