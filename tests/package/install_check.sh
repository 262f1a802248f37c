#!/usr/bin/env bash
# The packages installed as an admin installs them (apt-get, as root; CI runs this
# after ./run package): the user roderavo in dialout, /etc/roderavo/site.toml a
# conffile that does nothing until edited, the units known to systemd and not
# enabled, the hardened unit verified, the example site file run as the service runs
# it, the bridges of several lines restarted on upgrade and stopped on removal, the
# logrotate file in place, and a purge that leaves nothing behind.
#   install_check.sh DIR      (DIR holds the .deb files)
set -euo pipefail
dir=$(cd "$1" && pwd)
fail() { echo "install_check: $*" >&2; exit 1; }
packages=(libroderavo1 libzanpro1 roderavo-dev roderavo)
debs=()
for package in "${packages[@]}"; do debs+=("$(compgen -G "$dir/${package}_*.deb")"); done

purge() { DEBIAN_FRONTEND=noninteractive apt-get purge -y "${packages[@]}" >/dev/null 2>&1 || true; }
work=$(mktemp -d)
pids=()
made=()  # /run/systemd/system and its parent, when this script made them
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for ((i = ${#made[@]} - 1; i >= 0; i--)); do rmdir "${made[i]}" 2>/dev/null || true; done
    rm -rf "$work"
    purge
}
trap cleanup EXIT

DEBIAN_FRONTEND=noninteractive apt-get install -y "${debs[@]}" >"$work/apt.log" 2>&1 ||
    { cat "$work/apt.log" >&2; fail "apt-get install failed"; }
[ "$(command -v roderavo)" = /usr/bin/roderavo ] || fail "roderavo is not /usr/bin/roderavo"

# The user, without a login, in dialout.
getent passwd roderavo | grep -q ':/usr/sbin/nologin$' || fail "no system user roderavo"
id -nG roderavo | tr ' ' '\n' | grep -qx dialout || fail "roderavo is not in dialout"

# The site file: a conffile, every line a comment.
dpkg-query -W -f='${Conffiles}\n' roderavo | grep -q ' /etc/roderavo/site.toml ' ||
    fail "/etc/roderavo/site.toml is not a conffile"
! grep -qv '^\(#.*\)\?$' /etc/roderavo/site.toml || fail "site.toml has a line that is not a comment"

# The units: both there, neither enabled; the hardened one verified and scored.
for unit in roderavo-bridge.service roderavo-bridge@.service; do
    [ -f "/lib/systemd/system/$unit" ] || fail "no unit $unit"
done
state=$(systemctl is-enabled roderavo-bridge.service 2>/dev/null || true)
[ "$state" = disabled ] || fail "roderavo-bridge.service is '$state', not disabled"
systemd-analyze verify /lib/systemd/system/roderavo-bridge.service ||
    fail "systemd-analyze verify found faults"
exposure=$(systemd-analyze security --offline=true /lib/systemd/system/roderavo-bridge.service |
    sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
awk -v e="$exposure" 'BEGIN { exit !(e != "" && e <= 2.0) }' || fail "exposure $exposure is above 2.0"
echo "install_check: systemd-analyze security: exposure $exposure"

# The example site file, as the service runs it (only --config), with the installed
# muxsim on a pty and a local mosquitto; the bridge says online at the broker.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mosquitto -v -p "$port" >"$work/mosquitto.log" 2>&1 &
pids+=($!)
# Its ready line, before anyone connects.
for ((wait = 0; wait < 100; wait++)); do
    grep -q ' running$' "$work/mosquitto.log" && break
    sleep 0.1
done
grep -q ' running$' "$work/mosquitto.log" || fail "mosquitto did not come up: $(cat "$work/mosquitto.log")"
coproc SIM { exec muxsim 2>"$work/muxsim.log"; }  # its pid is muxsim's own
pids+=("$SIM_PID")
read -r -t 10 device <&"${SIM[0]}" || fail "muxsim did not come up"
[[ $device == pts/* ]] || fail "muxsim named no pty: $device"
zcat -f /usr/share/doc/roderavo/site.example.toml* |
    sed -e "s|\"ttyUSB0\"|\"$device\"|" -e "s|localhost:1883|127.0.0.1:$port|" >"$work/site.toml"
timeout 10 mosquitto_sub -p "$port" -t 'roderavo/+/status' -C 1 >"$work/status" &
sub=$!
roderavo bridge --config "$work/site.toml" --duration 4 >"$work/bridge.log" 2>&1 ||
    { cat "$work/bridge.log" >&2; fail "the bridge on the example site file failed"; }
wait "$sub" || fail "no status at the broker"
grep -qx online "$work/status" || fail "the bridge did not say online: $(cat "$work/status")"

# The bridges of several lines: after an upgrade (a reinstall of the same package is
# one) those that run are restarted, on removal stopped. The scripts' calls go to a
# stub systemctl that records them (first on the PATH apt gives dpkg); where systemd does not run, /run/systemd/system is
# made for the while, so that the scripts take the path they take under systemd.
[ -f /etc/logrotate.d/roderavo ] || fail "no /etc/logrotate.d/roderavo"
mkdir -p "$work/stub"
printf '#!/bin/sh\necho "$*" >>"%s"\n' "$work/systemctl.calls" >"$work/stub/systemctl"
chmod +x "$work/stub/systemctl"
for folder in /run/systemd /run/systemd/system; do
    [ -d "$folder" ] || { mkdir "$folder" && made+=("$folder"); }
done
for step in "install --reinstall -y ${debs[3]}" "remove -y roderavo"; do
    : >"$work/systemctl.calls"
    # shellcheck disable=SC2086  # the step's words
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Path="$work/stub:/usr/sbin:/usr/bin:/sbin:/bin" \
        $step >"$work/apt.log" 2>&1 ||
        { cat "$work/apt.log" >&2; fail "apt-get $step failed"; }
    case $step in
        install*) call="try-restart roderavo-bridge@*.service" ;;
        remove*) call="stop roderavo-bridge@*.service" ;;
    esac
    grep -qxF "$call" "$work/systemctl.calls" ||
        fail "apt-get $step did not call systemctl $call: $(cat "$work/systemctl.calls")"
done
for ((i = ${#made[@]} - 1; i >= 0; i--)); do rmdir "${made[i]}"; done
made=()
echo "install_check: roderavo-bridge@* restarted on upgrade, stopped on removal"

# Purge: the packages and /etc/roderavo gone.
purge
for package in "${packages[@]}"; do
    ! dpkg -L "$package" >/dev/null 2>&1 || fail "$package is still installed"
done
[ ! -e /etc/roderavo ] || fail "/etc/roderavo is left after the purge"
echo "install_check: installed, user, conffile, units, example site file and purge fine"
