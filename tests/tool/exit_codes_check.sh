#!/usr/bin/env bash
# The programs give the exit code each scenario deserves, and the code is in the
# guide's table of exit codes for that program ("| 105 to 114 |" counts as a range).
#   exit_codes_check.sh GUIDE RODERAVO MUXSIM
set -uo pipefail
set -m  # job control: a program started in the background still takes Ctrl-C
guide=$1 roderavo=$2 muxsim=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# documented PROGRAM CODE: the row of CODE in PROGRAM's table.
documented() {
    awk -F '|' -v program="\`$1\`:" -v code="$2" '
        /^## / { section = $0 } section != "## Exit codes" { next }
        /^`[a-z]+`:$/ { table = $0 }
        table == program && /^\| [0-9]/ {
            split($2, range, " to ")  # " 105 to 114 " or " 1 "
            if (code >= range[1] + 0 && code <= (range[2] == "" ? range[1] : range[2]) + 0) found = 1
        }
        END { exit !found }' "$guide"
}

# interrupted PATTERN BINARY ARGS...: runs the program, sends it SIGINT (Ctrl-C)
# once PATTERN shows in its output, and gives its exit code (128 + 2 when the
# signal ended it).
interrupted() {
    local pattern=$1 output=$work/output
    shift
    : >"$output"  # emptied here: the child's own redirection may come after the first look
    "$@" </dev/null >>"$output" 2>&1 &
    local pid=$! waited=0
    until grep -qE -- "$pattern" "$output"; do
        if ((waited++ > 600)) || ! kill -0 "$pid" 2>/dev/null; then
            echo "$*: '$pattern' never showed:" >&2
            cat "$output" >&2
            kill -KILL "$pid" 2>/dev/null
            break
        fi
        sleep 0.1
    done
    kill -INT "$pid" 2>/dev/null
    wait "$pid"
}

failed=0
# PROGRAM|CODE|ARGS|PATTERN: with a PATTERN, Ctrl-C once it shows.
while IFS='|' read -r program expected args pattern; do
    read -ra words <<<"$args"
    [[ $program == roderavo ]] && binary=$roderavo || binary=$muxsim
    if [[ -n $pattern ]]; then
        interrupted "$pattern" "$binary" "${words[@]}"
    else
        timeout 60 "$binary" "${words[@]}" </dev/null >/dev/null 2>&1
    fi
    code=$?
    if ((code != expected)); then
        echo "$program $args: exit code $code, expected $expected" >&2
        failed=1
    fi
    if ! documented "$program" "$code"; then
        echo "$program $args: exit code $code is not in the guide's table" >&2
        failed=1
    fi
done <<'CASES'
roderavo|0|info|
roderavo|0|read --simulate VER1|
roderavo|0|write --simulate KEY1=53 TAD0=now|
roderavo|0|poll --help|
roderavo|1|read XYZ1|
roderavo|1|read --no-such-option VER1|
roderavo|1|frobnicate|
roderavo|1|write --simulate KEY1=840|
roderavo|1|poll --simulate --mux 7|
roderavo|2|read --port /nonexistent/ttyX VER0|
roderavo|2|info --driver /nonexistent/libroderavo.so|
roderavo|2|read --simulate --sim-absent 1 --timeout 50ms VER1|
roderavo|2|poll --simulate --sim-absent 1 --mux 1 --cycles 1 --poll-interval 50ms|
roderavo|2|write --sim-absent 1 --simulate --timeout 50ms KEY1=53 KEY0=53|
roderavo|2|write --simulate --timeout 50ms --sim-absent=1 KEY1=53 KEY2=53|
roderavo|2|write --simulate --sim-fault bad-checksum --timeout 50ms KEY1=53|
roderavo|130|read --simulate --sim-absent 1 --timeout 20s --trace VER1|-> mux 1
roderavo|0|poll --simulate --cycles 0 --poll-interval 50ms|cycle 1 [|]
muxsim|0|--help|
muxsim|1|--no-such-option|
muxsim|1|--alarm 200|
muxsim|1|--mux|
muxsim|2|--device /nonexistent/ttyX|
muxsim|1|--alarm=23 45|
muxsim|0||pts/
CASES
exit $failed
