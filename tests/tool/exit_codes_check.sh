#!/usr/bin/env bash
# Every exit code that the programs give is in the guide's table of exit codes
# for that program ("| 105 to 114 |" counts as a range).
#   exit_codes_check.sh GUIDE RODERAVO MUXSIM
set -uo pipefail
guide=$1 roderavo=$2 muxsim=$3

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

failed=0
while IFS='|' read -r program args; do
    read -ra words <<<"$args"
    [[ $program == roderavo ]] && binary=$roderavo || binary=$muxsim
    timeout 60 "$binary" "${words[@]}" </dev/null >/dev/null 2>&1
    code=$?
    if ! documented "$program" "$code"; then
        echo "$program $args: exit code $code is not in the guide's table" >&2
        failed=1
    fi
done <<'CASES'
roderavo|info
roderavo|read XYZ1
roderavo|read --no-such-option VER1
roderavo|frobnicate
roderavo|read --port /nonexistent/ttyX VER0
roderavo|poll --simulate --sim-absent 1 --mux 1 --cycles 1 --poll-interval 50ms
muxsim|--help
muxsim|--no-such-option
muxsim|--alarm 200
muxsim|--mux
muxsim|--device /nonexistent/ttyX
CASES
exit $failed
