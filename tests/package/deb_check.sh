#!/usr/bin/env bash
# The Debian packages of ./run package: the files each holds, what they depend on,
# lintian without an error or a warning, and the programs run from the unpacked
# packages. Installing them with apt-get runs in CI (.ci/run, install_check.sh).
#   deb_check.sh DIR      (DIR holds the .deb files)
set -euo pipefail
dir=$1
triplet=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$triplet
fail() { echo "deb_check: $*" >&2; exit 1; }
deb_of() { compgen -G "$dir/$1_*.deb" | head -n 1 || fail "no package $1 in $dir"; }

# holds PACKAGE FILE...: each file is in the package.
holds() {
    local package=$1 files
    shift
    files=$(dpkg-deb -c "$(deb_of "$package")" | awk '{ print $6 }' | sed 's|^\./||')
    for file; do
        grep -qx -- "$file" <<<"$files" || fail "$package lacks $file"
    done
}
holds libroderavo1 "$lib/libroderavo.so.1" "$lib/libroderavo.so.1.0.0" \
    "$lib/roderavo/libroderavo-tagformat.so"
holds libzanpro1 "$lib/libzanpro.so.1" "$lib/libzanpro.so.1.0.0"
holds roderavo-dev usr/include/roderavo/kor.h usr/include/roderavo/product.h \
    usr/include/zanpro/zanpro.h usr/include/zanpro/zanpro_host.h "$lib/libroderavo.so" \
    "$lib/libzanpro.so" "$lib/pkgconfig/roderavo.pc" "$lib/pkgconfig/zanpro.pc" \
    "$lib/cmake/roderavo/roderavoConfig.cmake"
holds roderavo usr/bin/roderavo usr/bin/muxsim usr/share/man/man1/roderavo.1.gz \
    usr/share/man/man1/muxsim.1.gz usr/share/bash-completion/completions/roderavo \
    usr/share/doc/roderavo/copyright usr/share/doc/roderavo/changelog.gz \
    usr/share/doc/roderavo/guide.md usr/share/doc/roderavo/examples/host/host.c \
    usr/share/doc/roderavo/examples/mosquitto/mosquitto.conf \
    usr/share/doc/roderavo/monitoring/roderavo.rules.yml \
    lib/systemd/system/roderavo-bridge.service \
    lib/systemd/system/roderavo-bridge@.service usr/lib/sysusers.d/roderavo.conf \
    etc/roderavo/site.toml etc/logrotate.d/roderavo

# Dependencies: computed from what the binaries link, and the driver that the tool
# loads by name.
depends_of() { dpkg-deb -f "$(deb_of "$1")" Depends; }
grep -q 'libzanpro1' <<<"$(depends_of libroderavo1)" || fail "libroderavo1 does not depend on libzanpro1"
grep -q 'libncurses' <<<"$(depends_of libroderavo1)" || fail "libroderavo1 does not depend on curses"
for package in libroderavo1 libzanpro1 libmosquitto1 libssl3 libsystemd0 'systemd |'; do
    grep -q "$package" <<<"$(depends_of roderavo)" || fail "roderavo does not depend on $package"
done
dpkg-deb -f "$(deb_of roderavo)" Conffiles 2>/dev/null | grep -q '/etc/roderavo/site.toml' ||
    dpkg-deb -I "$(deb_of roderavo)" conffiles | grep -qx /etc/roderavo/site.toml ||
    fail "/etc/roderavo/site.toml is not a conffile"

# lintian: neither errors nor warnings (the overrides, if any, say why in debian/).
lintian --fail-on error,warning "$dir"/*.deb || fail "lintian found errors or warnings"

# The programs, from the unpacked packages.
root=$dir/root
rm -rf "$root"
for deb in "$dir"/*.deb; do [[ $deb == *-dbgsym_* ]] || dpkg-deb -x "$deb" "$root"; done
export LD_LIBRARY_PATH=$root/$lib
"$root/usr/bin/roderavo" info >/dev/null
"$root/usr/bin/roderavo" read --simulate VER1 | grep -q '^VER1 = AMUX'
echo "deb_check: $(cd "$dir" && echo *.deb): files, dependencies, lintian and programs fine"
