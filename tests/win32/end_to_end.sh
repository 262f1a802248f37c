#!/usr/bin/env bash
# End to end: the same host program (line_host) on Linux, with libroderavo.so on
# the simulator's pseudo-terminal, and under wine, with RODERAVO.DLL and
# ZANPRO.dll on that pseudo-terminal mapped as COM7. The transcripts (results,
# gate values, log lines) and the frames the simulator saw and sent must match.
#   end_to_end.sh STATE MUXSIM LINUX_HOST WINDOWS_HOST_EXE
set -euo pipefail
state=$1 muxsim=$2 linux_host=$3 windows_host=$4
. "$(dirname "$0")/wine_lib.sh"
wine_use_session "$state"

sim_pid=""
trap '[ -z "$sim_pid" ] || wine_stop "$sim_pid"; wine_unmap_com 7' EXIT

# run_side NAME: the simulator with the same state for each side, its frames in
# e2e-NAME-wire.txt, the host's transcript in e2e-NAME.txt.
run_side() {
    local side=$1 status=0
    wine_start_muxsim "e2e-$side-wire.txt" "$muxsim" --video-loss 25 \
        --mux-version 'AMUX 20CD V2.10' --trace
    if [ "$side" = linux ]; then
        "$linux_host" "$sim_port" > "e2e-$side.txt" || status=$?
    else
        wine_map_com 7 "/dev/$sim_port"
        (cd "$(dirname "$windows_host")" && wine "./$(basename "$windows_host")" COM7 < /dev/null) \
            > "e2e-$side.txt" || status=$?
        wine_unmap_com 7
    fi
    wine_stop "$sim_pid"
    sim_pid=""
    [ "$status" -eq 0 ] || { cat "e2e-$side.txt"; wine_fail "the $side host failed ($status)"; }
}

run_side linux
run_side windows
diff -u e2e-linux.txt e2e-windows.txt
diff -u e2e-linux-wire.txt e2e-windows-wire.txt
echo "end to end: $(wc -l < e2e-linux.txt) transcript lines and $(grep -c '^<-' e2e-linux-wire.txt) replies alike"
