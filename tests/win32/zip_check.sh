#!/usr/bin/env bash
# The Windows zip (./run win32) stands alone: the programs and libraries, the
# headers, and the README, the guide, the site file example and the C host example.
#   zip_check.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cpack -G ZIP --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; exit 1; }
zip=$(echo "$work"/roderavo-*-win32.zip)
listing=$(python3 -c 'import sys, zipfile; print("\n".join(zipfile.ZipFile(sys.argv[1]).namelist()))' "$zip")
top=$(basename "$zip" .zip)
for file in bin/roderavo.exe bin/RODERAVO.DLL bin/ZANPRO.dll include/roderavo/kor.h \
    include/zanpro/zanpro_host.h README.md docs/guide.md docs/site.example.toml \
    docs/images/tag_format_dialog.png docs/examples/host/host.c; do
    grep -qx -- "$top/$file" <<<"$listing" || { echo "$(basename "$zip") lacks $file" >&2; exit 1; }
done
echo "$(basename "$zip"): $(wc -l <<<"$listing") files, the docs included"
