#!/usr/bin/env bash
# The guide's C host (docs/examples/host), as an integrator builds it: against a
# fresh installation, once with pkg-config and once with find_package(roderavo),
# each run on muxsim. AAS1 must fill its twenty companion gates and the alarm
# reports must reach their TAS gates, all through the host library's C API.
#   host_example.sh BUILD_DIR SOURCE_DIR WORK_DIR MUXSIM C_COMPILER [C_FLAGS]
# (C_FLAGS: the build's own, e.g. its sanitizers, which the host must share.)
set -euo pipefail
build=$1 source=$2 work=$3 muxsim=$4 cc=$5 cflags=${6:-}
example=$source/docs/examples/host
rm -rf "$work"
mkdir -p "$work"
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" --component roderavo >/dev/null

# The guide shows the example as it stands in docs/examples/host/host.c.
awk '/^```c$/ && shown { inside = 1; next } /^```$/ { inside = 0; shown = 0 }
     inside { print } /docs\/examples\/host\/host\.c`:$/ { shown = 1 }' \
    "$source/docs/guide.md" >"$work/guide_host.c"
diff -u "$example/host.c" "$work/guide_host.c" ||
    { echo "docs/guide.md does not show docs/examples/host/host.c as it is" >&2; exit 1; }

PKG_CONFIG_PATH=$prefix/lib/pkgconfig
export PKG_CONFIG_PATH
# shellcheck disable=SC2046,SC2086  # the flags and pkg-config's words are separate words
"$cc" $cflags -std=c99 -Wall -Wextra -Wpedantic -Werror "$example/host.c" \
    $(pkg-config --cflags --libs roderavo zanpro) -Wl,-rpath,"$prefix/lib" -o "$work/host_pkgconfig"
cmake -S "$example" -B "$work/cmake" -G Ninja -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$cflags -Wall -Wextra -Werror" >/dev/null
cmake --build "$work/cmake" >/dev/null

exec 3< <(exec "$muxsim" --alarm 27 --alarm 33=Video-Loss)
sim=$!
trap 'kill "$sim" 2>/dev/null' EXIT
read -r -t 10 -u 3 port
for host in "$work/host_pkgconfig" "$work/cmake/host"; do
    out=$("$host" "$port" 2>&1) || { echo "$host failed: $out" >&2; exit 1; }
    for line in 'AAS1 = 1' 'camera 27: state 32' '  TAS127: .* Alarm' 'camera 33: state 46' \
        '  TAS133: .* Video Loss' 'log: VERODI: ZUR Driver loaded successfully'; do
        grep -qx -- "$line" <<<"$out" || { echo "$host: no line '$line' in:"$'\n'"$out" >&2; exit 1; }
    done
done
echo "the guide's host built with pkg-config and with CMake, and read AAS1 on $port"
