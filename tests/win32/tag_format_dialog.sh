#!/usr/bin/env bash
# The Tag Format dialog of RODERAVO.DLL under wine, on an X server of its own
# (Xvfb): the foreign host drives it by control ids and saves a screenshot of it;
# then, in a second session booted without any display, the dialog cannot be
# created and the result is 53.
#
#   tag_format_dialog.sh HOST.exe ARTIFACTS
#
# HOST.exe and RODERAVO.DLL stand in one folder. Each session gets a prefix of its
# own: a session booted without a display never shows a window afterwards, even
# with one, so the display is set before the prefix boots. Window management is
# off in the prefix (Managed=N): without a window manager every closing dialog
# would wait for one.
set -euo pipefail
host=$1
artifacts=$2
mkdir -p "$artifacts"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

prefixes=()
cleanup() {
    local prefix
    for prefix in "${prefixes[@]}"; do
        WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
        rm -rf "$prefix"
    done
}
trap cleanup EXIT

new_prefix() {
    local prefix
    prefix=$(mktemp -d "${TMPDIR:-/tmp}/roderavo-dialog.XXXXXX")
    prefixes+=("$prefix")
    echo "$prefix"
}

# Runs on the X server: boots the prefix with the display set, then the host.
with_display=$(new_prefix)
inner='wineboot -i >/dev/null 2>&1 </dev/null &&
    wine reg add "HKCU\\Software\\Wine\\X11 Driver" /v Managed /d N /f >/dev/null 2>&1 &&
    wine "$0" "$1"; status=$?; wineserver -k 2>/dev/null; exit $status'
status=1
for attempt in 1 2 3; do
    # Two xvfb-run -a started at once may pick the same display: try again.
    if WINEPREFIX=$with_display xvfb-run -a -s "-screen 0 1024x768x24" \
        bash -c "$inner" "$host" "Z:$artifacts/tag_format_dialog.bmp" \
        > "$artifacts/dialog.log" 2>&1; then
        status=0
        break
    fi
    grep -q "Xvfb failed to start\|Server is already active" "$artifacts/dialog.log" || break
done
cat "$artifacts/dialog.log"
[ $status -eq 0 ] || exit 1
[ -s "$artifacts/tag_format_dialog.bmp" ] || { echo "no screenshot" >&2; exit 1; }
echo "screenshot: $artifacts/tag_format_dialog.bmp"

# Last, a session without any display.
without_display=$(new_prefix)
(
    unset DISPLAY WAYLAND_DISPLAY
    export WINEPREFIX=$without_display
    wineboot -i >/dev/null 2>&1 </dev/null
    wine "$host" --no-display
    status=$?
    wineserver -k 2>/dev/null
    exit $status
)
