#!/usr/bin/env bash
# The package's logrotate file, forced on a copy whose folder is a temporary one: a
# log is copied to LINE.log.1 and truncated in place (the bridge keeps writing to the
# same open file), an empty one is left alone, and a line logrotate finds fault with fails.
#   logrotate_check.sh FILE
set -euo pipefail
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "logrotate_check: $*" >&2; exit 1; }
sed "s|/var/log/roderavo|$work/log|" "$1" >"$work/roderavo"
chmod 644 "$work/roderavo"
mkdir "$work/log"
echo "2026-12-08 10:00:00.000 event line open" >"$work/log/north.log"
: >"$work/log/south.log"
exec 3>>"$work/log/north.log"  # the bridge's open log
logrotate --state "$work/state" -f "$work/roderavo" 2>"$work/errors" ||
    fail "logrotate refused it: $(cat "$work/errors")"
[ -s "$work/errors" ] && fail "logrotate said: $(cat "$work/errors")"
grep -q "line open" "$work/log/north.log.1" || fail "north.log was not copied to north.log.1"
[ ! -s "$work/log/north.log" ] || fail "north.log was not truncated"
echo "after" >&3
grep -qx after "$work/log/north.log" || fail "the open log no longer reaches north.log"
[ ! -e "$work/log/south.log.1" ] || fail "an empty log was rotated"
echo "logrotate_check: rotated by copy and truncation, empty logs left"
