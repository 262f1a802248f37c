#!/usr/bin/env bash
# The Debian package made by CPack from this build: its files under /usr, its
# dependencies, and its programs run from the unpacked tree (they find the
# package's libraries next to them). The install with apt-get itself runs in CI
# (.ci/run), as root.
#   deb_check.sh BUILD_DIR WORK_DIR
set -euo pipefail
build=$1 work=$2
rm -rf "$work"
mkdir -p "$work"
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" ||
    { cat "$work/cpack.log" >&2; exit 1; }
deb=$(echo "$work"/roderavo_*.deb)

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for file in ./usr/bin/roderavo ./usr/bin/muxsim ./usr/lib/libroderavo.so.1 \
    ./usr/lib/libroderavo.so ./usr/lib/libroderavo-tagformat.so ./usr/lib/libzanpro.so.1 \
    ./usr/include/roderavo/kor.h ./usr/include/zanpro/zanpro_host.h \
    ./usr/lib/pkgconfig/roderavo.pc ./usr/lib/cmake/roderavo/roderavoConfig.cmake \
    ./usr/share/man/man1/roderavo.1 ./usr/share/man/man1/muxsim.1 \
    ./usr/share/bash-completion/completions/roderavo ./usr/share/doc/roderavo/guide.md \
    ./usr/share/doc/roderavo/examples/host/host.c; do
    grep -qx -- "$file" <<<"$files" || { echo "$deb lacks $file" >&2; exit 1; }
done

# Computed from what the binaries link: the C and C++ run-times and curses (the
# Tag Format dialog), never the package's own libraries.
depends=$(dpkg-deb -f "$deb" Depends)
for package in 'libc6' 'libstdc++6' 'libgcc-s1' 'libncursesw\?6'; do
    grep -q "\(^\|, \)$package " <<<"$depends" || { echo "Depends: $depends lacks $package" >&2; exit 1; }
done
[[ $(dpkg-deb -f "$deb" Package) == roderavo ]]

dpkg-deb -x "$deb" "$work/root"
"$work/root/usr/bin/roderavo" info >/dev/null
"$work/root/usr/bin/roderavo" read --simulate VER1 | grep -q '^VER1 = AMUX'
echo "$(basename "$deb"): Depends: $depends"
