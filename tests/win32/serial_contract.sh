#!/usr/bin/env bash
# The serial contract suite against the Win32 backend under wine: COM5 is the
# port under test, COM6 the peer, joined by a null-modem cable of two
# pseudo-terminals.
#   serial_contract.sh STATE NULL_MODEM CONTRACT_EXE [gtest options]
set -euo pipefail
state=$1 null_modem=$2 exe=$3
shift 3
. "$(dirname "$0")/wine_lib.sh"
wine_use_session "$state"

coproc CABLE { exec "$null_modem"; }
cable_pid=$CABLE_PID
trap 'wine_unmap_com 5; wine_unmap_com 6; wine_stop $cable_pid' EXIT
read -r -t 10 port peer <&"${CABLE[0]}" || wine_fail "the null-modem cable did not come up"
wine_map_com 5 "$port"
wine_map_com 6 "$peer"
RODERAVO_TEST_PORT=COM5 RODERAVO_TEST_PEER=COM6 wine "$exe" "$@" < /dev/null
