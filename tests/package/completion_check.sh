#!/usr/bin/env bash
# The bash completion (completions/roderavo), driven as bash does, with the
# programs of the build tree on PATH: WORDS... -> the offered completions.
#   completion_check.sh COMPLETION_SCRIPT PROGRAM_DIR...
set -uo pipefail
# shellcheck source=/dev/null
source "$1"
shift
PATH=$(IFS=:; echo "$*"):$PATH
failed=0
while IFS='|' read -r words expected; do
    read -ra COMP_WORDS <<<"$words"
    [[ $words == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _roderavo
    got=$(printf '%s\n' "${COMPREPLY[@]}" | sort | xargs)
    want=$(printf '%s\n' $expected | sort | xargs)
    if [[ $got != "$want" ]]; then
        echo "'$words': offered '$got', expected '$want'" >&2
        failed=1
    fi
done <<'CASES'
roderavo p|parse poll
roderavo re|read
roderavo read --p|--port --parity --poll-interval
roderavo read VER1 --sim-a|--sim-absent
roderavo poll --color |auto always never
roderavo parse --kind t|text
roderavo write --parity e|even
roderavo simulate --fault tr|trickle:
roderavo si|simulate sites
roderavo sites --w|--watch
roderavo sites --si|--site
muxsim --f|--frozen-clock --fault
CASES
exit $failed
