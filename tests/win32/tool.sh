#!/usr/bin/env bash
# roderavo.exe under wine against the Linux roderavo: info, parse, and read and
# write on the simulator (on Windows through COM8) print the same and end with
# the same exit codes; poll prints plain cycles; --simulate and --trace say that
# they are POSIX-only; the help and the console are as a Windows user reads
# them; a port that is not there is explained.
#   tool.sh STATE MUXSIM LINUX_TOOL WINDOWS_TOOL_EXE
set -euo pipefail
state=$1 muxsim=$2 linux_tool=$3 windows_tool=$4
. "$(dirname "$0")/wine_lib.sh"
wine_use_session "$state"

sim_pid=""
trap '[ -z "$sim_pid" ] || wine_stop "$sim_pid"; wine_unmap_com 8' EXIT
start_simulator() {
    wine_start_muxsim /dev/null "$muxsim"
}
stop_simulator() {
    wine_stop "$sim_pid"
    sim_pid=""
}

# on SIDE NAME ARGS...: runs the tool, its output (less CRs) in tool-SIDE-NAME.txt.
on() {
    local side=$1 name=$2 status=0
    shift 2
    if [ "$side" = linux ]; then
        "$linux_tool" "$@" > "tool-$side-$name.txt" 2>&1 || status=$?
    else
        wine "$windows_tool" "$@" < /dev/null > "tool-$side-$name.raw" 2>&1 || status=$?
        tr -d '\r' < "tool-$side-$name.raw" > "tool-$side-$name.txt"
    fi
    echo "exit $status" >> "tool-$side-$name.txt"
}

# same NAME ARGS...: the Linux and the Windows tool alike, each on a simulator of
# its own; {port} is the simulator's line.
same() {
    local name=$1
    shift
    start_simulator
    on linux "$name" "${@//\{port\}/$sim_port}"
    stop_simulator
    start_simulator
    wine_map_com 8 "/dev/$sim_port"
    on windows "$name" "${@//\{port\}/COM8}"
    wine_unmap_com 8
    stop_simulator
    # The info's first line names the library file, which differs.
    diff -u <(grep -v '^driver ' "tool-linux-$name.txt") <(grep -v '^driver ' "tool-windows-$name.txt")
}

same info info
same parse parse ALS121 ALS021 IHK2075 XYZ1 TAD4 SAC4100
same read read --port {port} VER1 ALS123 AAS1 VLS1 TAD1
same write write --port {port} KEY1=53 'PRESET1=(9,13)' 'INHPAIR1=(48,49,50,51,52,53)' \
    'TAD1=(31,12,2000,23,59,59)' KEY1=1

# poll in plain text: one cycle of every multiplexer, all of them answering.
start_simulator
wine_map_com 8 "/dev/$sim_port"
on windows poll poll --port COM8 --cycles 1 --poll-interval 300ms
wine_unmap_com 8
stop_simulator
grep -qx "exit 0" tool-windows-poll.txt || wine_fail "poll did not end with 0: $(cat tool-windows-poll.txt)"
[ "$(grep -c '^ *[0-4] .* ok ' tool-windows-poll.txt)" -eq 5 ] ||
    wine_fail "poll did not show five multiplexers ok: $(cat tool-windows-poll.txt)"

for args in "read --simulate VER1" "read --port COM8 --trace VER1"; do
    on windows pty $args
    grep -q "POSIX-only" tool-windows-pty.txt || wine_fail "$args did not say POSIX-only"
    grep -qx "exit 1" tool-windows-pty.txt || wine_fail "$args did not end with 1"
done
# The help as a Windows user reads it: examples quoted for cmd.exe, and only the
# commands and options there are (no simulator, no protocol tap).
on windows help --help
on windows help-read read --help
grep -qF '"PRESET2=(9,13)"' tool-windows-help.txt || wine_fail "the help's examples are not double-quoted"
if grep -qE "'PRESET|^  simulate |built-in simulator" tool-windows-help.txt tool-windows-help-read.txt ||
    grep -qE -- '--simulate|--trace|--sim-' tool-windows-help-read.txt; then
    wine_fail "the help shows what Windows does not have: $(cat tool-windows-help*.txt)"
fi
grep -qF 'docs\guide.md' tool-windows-help.txt || wine_fail "the help does not say where the guide is"

# The console: the banner's box comes out as box characters, not as one character
# for each byte of their UTF-8 (a console in code page 437 shows those as "â").
script -qec "wine '$windows_tool' info" tool-windows-console.raw </dev/null >/dev/null
grep -qF '│' tool-windows-console.raw || wine_fail "the console shows no box: $(cat -v tool-windows-console.raw)"
! grep -qF 'â' tool-windows-console.raw || wine_fail "the console shows the box's bytes as characters"

# A port that is not there: the tool explains the error the driver's open got.
on windows absent read --port COM9 VER1
grep -q 'there is no port \\\\.\\COM9' tool-windows-absent.txt ||
    wine_fail "a missing COM9 was not explained: $(cat tool-windows-absent.txt)"
grep -qx "exit 2" tool-windows-absent.txt || wine_fail "a missing port did not end with 2"
echo "tool: info, parse, read and write alike; poll plain; --simulate and --trace POSIX-only;"\
    "the help and the console as on Windows; a missing port explained"
