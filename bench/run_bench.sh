#!/usr/bin/env bash
# Runs the benchmarks of a build tree and prints one table.
#   bench/run_bench.sh BUILD_DIR [--quick]
#   bench/run_bench.sh BUILD_DIR --fleet [N]   only the fleet: N bridges (default 200)
# --quick: each benchmark briefly (figures without meaning; only that they run).
set -euo pipefail
dir=${1:?usage: bench/run_bench.sh BUILD_DIR [--quick | --fleet [N]]}
shift
quick=0
fleet=0
[ "${1:-}" = --quick ] && quick=1
[ "${1:-}" = --fleet ] && fleet=${2:-200}
bin=$dir/bench
rows=$(mktemp)
trace=$(mktemp)
trap 'rm -f "$rows" "$trace"' EXIT

print_table() {
    awk -F'|' '
        { for (i = 2; i <= NF; i++) { cell[NR, i] = $i; if (length($i) > w[i]) w[i] = length($i) } n = NR }
        END {
            split("section|case|median|p99|reference|ratio / calls", head, "|")
            for (i = 2; i <= 7; i++) if (length(head[i - 1]) > w[i]) w[i] = length(head[i - 1])
            line = ""
            for (i = 2; i <= 7; i++) line = line sprintf("%-*s  ", w[i], head[i - 1])
            print line
            for (r = 1; r <= n; r++) {
                line = ""
                for (i = 2; i <= 7; i++) line = line sprintf("%-*s  ", w[i], cell[r, i])
                sub(/ +$/, "", line)
                print line
            }
        }' "$rows"
}

# The fleet alone: it takes minutes and the whole machine.
if [ "$fleet" != 0 ]; then
    "$bin/fleet_bench" "$fleet" | grep '^ROW|' >>"$rows"
    print_table
    exit 0
fi

# CPU per call: Google Benchmark, the median of five repetitions.
gb=(--benchmark_format=csv --benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
[ "$quick" = 1 ] && gb=(--benchmark_format=csv --benchmark_min_time=0.001)
"$bin/cpu_bench" "${gb[@]}" 2>/dev/null | awk -F, -v quick="$quick" '
    $1 ~ /^"/ {
        name = $1; gsub(/"/, "", name)
        if (!quick && name !~ /_median$/) next
        sub(/_median$/, "", name)
        rate = ($7 != "") ? sprintf("%.1f M items/s", $7 / 1e6) : ""
        if ($6 != "") rate = sprintf("%.0f MB/s", $6 / 1e6)
        # The decode among 200 gates against the decode among 20.
        if (name == "Decode/20") decode20 = $4
        if (name == "Decode/200" && decode20 > 0) rate = sprintf("x%.2f Decode/20 (goal <= 1.1)", $4 / decode20)
        printf "ROW|CPU per call (Google Benchmark%s)|%s|%.0f ns||%s\n", quick ? ", quick" : ", median of 5", name, $4, rate
    }' >>"$rows"

# The exchange on a pty, and the 100-camera poll through muxsim.
q=()
[ "$quick" = 1 ] && q=(--quick)
"$bin/exchange_bench" "${q[@]}" | grep '^ROW|' >>"$rows"
"$bin/exchange_bench" --allocations | grep '^ROW|' >>"$rows"
"$bin/wire_bench" "${q[@]}" | grep '^ROW|' >>"$rows"
# The MQTT bridge: a camera's change to the message at a subscriber, against the cycle.
"$bin/bridge_bench" "${q[@]}" | grep '^ROW|' >>"$rows"
# The Modbus face: ten clients reading, the cycle with and without them.
"$bin/modbus_bench" "${q[@]}" | grep '^ROW|' >>"$rows"
# The fleet, only that it runs (./run bench --fleet N measures it).
[ "$quick" = 1 ] && "$bin/fleet_bench" 3 --quick | grep '^ROW|' >>"$rows"
# The web face: the state's answer time and the cycle with 20 event streams open, and a
# camera's change to the page in headless Chromium against the same change over MQTT.
"$bin/web_bench" "${q[@]}" | grep '^ROW|' >>"$rows"

# The system calls of one exchange, counted by strace between the program's markers
# (only the calling thread is traced: muxsim's thread and the responders are not).
count_calls() {  # label goal runs command...
    local label=$1 goal=$2 runs=$3
    shift 3
    if ! command -v strace >/dev/null; then
        echo "ROW|system calls of one exchange (strace)|$label|strace missing|||" >>"$rows"
        return
    fi
    local results=()
    for ((run = 0; run < runs; run++)); do
        if ! strace -o "$trace" "$@" >/dev/null 2>&1; then
            # The program's own failure fails the run; strace's (no ptrace here) does not.
            "$@" >/dev/null
            echo "ROW|system calls of one exchange (strace)|$label|strace could not trace|||" >>"$rows"
            return
        fi
        results+=("$(awk '
            /bench-begin/ { on = 1; next }
            /bench-end/ { on = 0 }
            on && !/^(---|\+\+\+)/ {
                call = $0; sub(/\(.*/, "", call)
                if (call == "ioctl") { split($0, a, /[(,]/); call = "ioctl(" substr(a[3], 2) ")" }
                if (call == "read" || call == "write") { n2 = split($0, b, "= "); call = call "=" b[n2] }
                list = list " " call; n++
            }
            END { printf "%d%s", n, list }' "$trace")")
    done
    # The run with the median count, and the counts of all runs.
    local sorted median all
    sorted=$(printf '%s\n' "${results[@]}" | sort -n)
    median=$(sed -n "$(((runs + 1) / 2))p" <<<"$sorted")
    all=$(printf '%s\n' "${results[@]}" | cut -d' ' -f1 | sort -n | paste -sd' ')
    local count=${median%% *} list=${median#* }
    [ "$runs" -gt 1 ] && label="$label (median of $runs: $all)"
    echo "ROW|system calls of one exchange (strace)|$label|$count||$goal|$list" >>"$rows"
}
repeat=5
[ "$quick" = 1 ] && repeat=1
count_calls "roderavo ALS, instant responder" "goal <= 4" 1 "$bin/exchange_bench" --once roderavo
count_calls "libmodbus RTU, instant responder" "" 1 "$bin/exchange_bench" --once modbus
count_calls "bare write/poll/read, instant responder" "" 1 "$bin/exchange_bench" --once bare
count_calls "roderavo AAS at 9600 baud, muxsim paced" "goal <= 8" "$repeat" \
    "$bin/wire_bench" --once-aas 9600

# One table.
print_table
