# Sourced by the wine tests: the run's wine session (wine_session.sh), COM ports
# mapped to pseudo-terminals, and child programs stopped by their pid.

wine_fail() {
    echo "wine test: $*" >&2
    exit 1
}

# wine_use_session STATE: the prefix and server that wine_session.sh up made.
wine_use_session() {
    [ -f "$1" ] || wine_fail "no wine session ($1); the fixture win32.wine_up makes it"
    WINEPREFIX="" WINESERVER_PID=""
    # shellcheck disable=SC1090
    . "$1"
    kill -0 "$WINESERVER_PID" 2>/dev/null || wine_fail "the session's wineserver is not running"
    export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    unset DISPLAY WAYLAND_DISPLAY
}

# wine_map_com N DEVICE: COM<N> (5 and above) is the pseudo-terminal DEVICE. The
# link is read back, and wine's own COM1-COM4 must be gone, before the test
# writes a byte.
wine_map_com() {
    local n=$1 device=$2 link
    [ "$n" -ge 5 ] || wine_fail "COM$n: test ports are COM5 and above"
    case "$device" in
        /dev/pts/[0-9]*) ;;
        *) wine_fail "COM$n: $device is not a pseudo-terminal" ;;
    esac
    [ -c "$device" ] || wine_fail "COM$n: $device is not a character device"
    for i in 1 2 3 4; do
        [ -e "$WINEPREFIX/dosdevices/com$i" ] || [ -L "$WINEPREFIX/dosdevices/com$i" ] &&
            wine_fail "COM$i is mapped in the test prefix"
    done
    link=$WINEPREFIX/dosdevices/com$n
    ln -sfn "$device" "$link"
    [ "$(readlink "$link")" = "$device" ] || wine_fail "COM$n does not read back as $device"
}

wine_unmap_com() {
    rm -f "$WINEPREFIX/dosdevices/com$1"
}

# wine_start_muxsim ERRORS MUXSIM ARGS...: the simulator on a new pty, with the
# state both sides of a comparison see (a frozen clock, camera 23 in alarm) and
# ARGS; its stderr in the file ERRORS. Sets sim_pid and sim_port ("pts/N").
wine_start_muxsim() {
    local errors=$1 muxsim=$2
    shift 2
    coproc SIM { exec "$muxsim" --clock '2000-11-06 08:12:33' --frozen-clock --alarm 23 "$@" 2> "$errors"; }
    sim_pid=$SIM_PID
    read -r -t 10 sim_port <&"${SIM[0]}" || wine_fail "the simulator did not come up"
}

# wine_stop PID: stops a child program of the test and waits for it.
wine_stop() {
    local pid=$1
    kill -TERM "$pid" 2>/dev/null || return 0
    wait "$pid" 2>/dev/null || true
}
