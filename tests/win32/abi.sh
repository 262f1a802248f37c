#!/usr/bin/env bash
# The ABI check: the same transcript (GetInfo, the entry cases, every address form
# through SingleParse with each value kind, with results, output words and log
# lines) from the Linux library and from RODERAVO.DLL under wine, in a foreign
# host with its own ZANPRO.dll.
#   abi.sh STATE LINUX_TRANSCRIPT LINUX_HOST_LIBRARY_DIR WINDOWS_TRANSCRIPT_EXE
set -euo pipefail
state=$1 linux_program=$2 linux_host=$3 windows_program=$4
. "$(dirname "$0")/wine_lib.sh"
wine_use_session "$state"

LD_LIBRARY_PATH=$linux_host "$linux_program" > abi-linux.txt
(cd "$(dirname "$windows_program")" && wine "./$(basename "$windows_program")" < /dev/null) \
    > abi-windows.txt
diff -u abi-linux.txt abi-windows.txt
lines=$(wc -l < abi-linux.txt)
[ "$lines" -gt 2000 ] || wine_fail "the transcript has only $lines lines"
echo "abi: $lines lines alike"
