#!/usr/bin/env bash
# bench/run.sh BUILD_DIR: the benchmark run of `make bench` (a few
# minutes).  bench/README.md says what each figure means.
#
#  1. The machine: CPU, cores, kernel, load, the file systems used.
#  2. A whole card sale, library (bench-sale) against its file-system
#     floor (bench-floor), alternately A B A B on fresh spools: on tmpfs
#     and on the work disk.  Ratio library/floor of sales per second
#     (median, minimum, maximum), system calls per sale of each (the
#     library's own count, the floor's, and strace -c as a cross-check,
#     call by call), user and system CPU per sale, and user-space
#     instructions per sale (valgrind) where the CPU times are too coarse.
#  3. The floor without the locks of its read-only steps (bench/README.md,
#     "Locks beyond the floor"): all / no-read / needed, alternately, on
#     tmpfs.
#  4. bx_count, bx_lookup and bx_status on queues of 10, 1,000 and 100,000
#     items, and a count of the same transactions before and after each
#     was changed five times.
#  5. 1, 2, 4 and 8 processes selling at once, on one spool and on one
#     spool each: sales per second in all and the 50th/90th/99th
#     percentile of the waiting lock requests; tmpfs and disk.
#  6. The same sale through the PHP extension and in C++.
#
# Knobs (environment): BENCH_TMPFS (default /dev/shm), BENCH_DISK (default
# BUILD_DIR/bench-spools), PAIRS_TMPFS (30), PAIRS_DISK (15), N_TMPFS (100
# sales per run), N_DISK (10), QUEUE_SIZES ("10 1000 100000"), SCALE_N
# (80 sales per process on tmpfs), SCALE_N_DISK (4), PHP_N (200).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
tmpfs=${BENCH_TMPFS:-/dev/shm}
disk=${BENCH_DISK:-$build/bench-spools}
pairs_tmpfs=${PAIRS_TMPFS:-30}
pairs_disk=${PAIRS_DISK:-15}
n_tmpfs=${N_TMPFS:-100}
n_disk=${N_DISK:-10}
queue_sizes=${QUEUE_SIZES:-10 1000 100000}
scale_n=${SCALE_N:-80}
scale_n_disk=${SCALE_N_DISK:-4}
php_n=${PHP_N:-200}

sale=$build/bench-sale
floor=$build/bench-floor
queues=$build/bench-queues
for p in "$sale" "$floor" "$queues"; do
    [ -x "$p" ] || { echo "bench: $p is not built (make bench builds it)" >&2; exit 1; }
done

mkdir -p "$disk"
work_t=$(mktemp -d "$tmpfs/brix-bench-XXXXXX")
work_d=$(mktemp -d "$(cd "$disk" && pwd)/brix-bench-XXXXXX")
trap 'rm -rf "$work_t" "$work_d"' EXIT
trap 'exit 1' INT TERM
# Whatever the library logs goes to one file of this run.
export BRIX_LOG_FILE="$work_t/brix.log"
started=$(date +%s)

# field KEY LINE: the value of KEY=... in a result line.
field() { sed -n "s/.* $1=\([^ ]*\).*/\1/p" <<<" $2"; }
# stats: "median min max" of the numbers on standard input.
stats() {
    sort -g | awk '{v[NR] = $1} END {
        if (NR == 0) { print "- - -"; exit }
        m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
        printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'
}
median() { stats | cut -d' ' -f1; }
# A fresh spool directory under $1.
fresh() { mktemp -d "$1/spool-XXXXXX"; }
# lib SPOOL_PARENT N / flr SPOOL_PARENT N [OPTIONS]: one timed run on a
# fresh spool (the floor's laid out by the library), removed afterwards.
lib() {
    local s; s=$(fresh "$1")
    "$sale" "$s" "$2"
    rm -rf "$s"
}
flr() {
    local s; s=$(fresh "$1")
    "$sale" "$s" 0
    "$floor" ${3:+"$3"} "$s" "$2"
    rm -rf "$s"
}

echo "== Machine"
echo "commit:      $(git rev-parse --short HEAD 2>/dev/null || echo '?')$(git diff --quiet HEAD 2>/dev/null || echo ' (with uncommitted changes)')"
echo "cpu:         $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1), $(nproc) cores"
echo "kernel:      $(uname -sr)"
echo "memory:      $(free -g | awk '/^Mem:/ {print $2 " GiB"}')"
echo "load:        $(cut -d' ' -f1-3 /proc/loadavg) (1, 5, 15 min) at the start"
echo "tmpfs:       $tmpfs ($(findmnt -no FSTYPE,OPTIONS -T "$tmpfs" | head -1))"
echo "disk:        $disk ($(findmnt -no SOURCE,FSTYPE,OPTIONS -T "$work_d" | head -1))"
echo

# pairs NAME PARENT PAIRS N: alternating library/floor runs, summed up.
# Two ratios: of throughput (sales per second, wall clock), and of CPU
# time per sale (floor/library, so that 1 is parity and less is slower):
# on a machine that other work shares, a CPU-bound run's wall clock
# measures its share of the CPU as much as its own cost, and the CPU
# ratio is the throughput ratio an idle machine would show (tmpfs).
pairs() {
    local name=$1 parent=$2 count=$3 n=$4 i a b
    local ratios=() cratios=() lsps=() fsps=() lcalls=() fcalls=() lcpu=() fcpu=() luser=() fuser=()
    echo "== Whole sale on $name: library vs floor, $count pairs of $n sales"
    for ((i = 1; i <= count; i++)); do
        a=$(lib "$parent" "$n")
        b=$(flr "$parent" "$n")
        lsps+=("$(field sales_per_s "$a")"); fsps+=("$(field sales_per_s "$b")")
        lcalls+=("$(field calls_per_sale "$a")"); fcalls+=("$(field calls_per_sale "$b")")
        lcpu+=("$(field cpu_us_per_sale "$a")"); fcpu+=("$(field cpu_us_per_sale "$b")")
        luser+=("$(field user_us_per_sale "$a")"); fuser+=("$(field user_us_per_sale "$b")")
        ratios+=("$(awk -v l="${lsps[-1]}" -v f="${fsps[-1]}" 'BEGIN {printf "%.3f", l / f}')")
        cratios+=("$(awk -v l="${lcpu[-1]}" -v f="${fcpu[-1]}" 'BEGIN {printf "%.3f", f / l}')")
        printf '  pair %2d: library %8.1f sales/s %8.1f us CPU  floor %8.1f sales/s %8.1f us CPU  ratio %s  CPU ratio %s\n' \
            "$i" "${lsps[-1]}" "${lcpu[-1]}" "${fsps[-1]}" "${fcpu[-1]}" "${ratios[-1]}" "${cratios[-1]}"
    done
    read -r rm rmin rmax < <(printf '%s\n' "${ratios[@]}" | stats)
    printf '  ratio library/floor, sales/s:         median %s  min %s  max %s\n' "$rm" "$rmin" "$rmax"
    read -r rm rmin rmax < <(printf '%s\n' "${cratios[@]}" | stats)
    printf '  ratio floor/library, CPU per sale:    median %s  min %s  max %s\n' "$rm" "$rmin" "$rmax"
    # Best of the runs: the least disturbed run of each.
    printf '  best run of each:       sales/s ratio %.3f   CPU ratio %.3f\n' \
        "$(awk -v l="$(printf '%s\n' "${lsps[@]}" | sort -g | tail -1)" \
               -v f="$(printf '%s\n' "${fsps[@]}" | sort -g | tail -1)" 'BEGIN {print l / f}')" \
        "$(awk -v l="$(printf '%s\n' "${lcpu[@]}" | sort -g | head -1)" \
               -v f="$(printf '%s\n' "${fcpu[@]}" | sort -g | head -1)" 'BEGIN {print f / l}')"
    printf '  sales/s (median):       library %8.1f  floor %8.1f\n' \
        "$(printf '%s\n' "${lsps[@]}" | median)" "$(printf '%s\n' "${fsps[@]}" | median)"
    printf '  system calls per sale:  library %8.1f  floor %8.1f\n' \
        "$(printf '%s\n' "${lcalls[@]}" | median)" "$(printf '%s\n' "${fcalls[@]}" | median)"
    printf '  CPU us per sale:        library %8.1f  floor %8.1f  (median; user and system)\n' \
        "$(printf '%s\n' "${lcpu[@]}" | median)" "$(printf '%s\n' "${fcpu[@]}" | median)"
    printf '  user CPU us per sale:   library %8.1f  floor %8.1f  (median; getrusage, tick-sampled)\n' \
        "$(printf '%s\n' "${luser[@]}" | median)" "$(printf '%s\n' "${fuser[@]}" | median)"
    echo
}
pairs "tmpfs" "$work_t" "$pairs_tmpfs" "$n_tmpfs"
pairs "disk" "$work_d" "$pairs_disk" "$n_disk"

# The cross-check: every system call of the process (library, C library,
# start-up), counted by strace over 10 and over 40 sales; the difference
# over 30 is what one sale costs.
if command -v strace >/dev/null; then
    echo "== System calls per sale by strace -c -f (tmpfs; (calls of 40 sales - calls of 10) / 30)"
    # traced NAME N: strace -c counts of one run, "syscall calls" lines.
    traced() {
        local s out; s=$(fresh "$work_t"); out=$work_t/strace.out
        [ "$1" = floor ] && "$sale" "$s" 0
        if [ "$1" = floor ]; then strace -c -f -o "$out" "$floor" "$s" "$2" >/dev/null
        else strace -c -f -o "$out" "$sale" "$s" "$2" >/dev/null; fi
        awk '$NF != "syscall" && $NF != "total" && $4 ~ /^[0-9]+$/ {print $NF, $4}' "$out"
        rm -rf "$s" "$out"
    }
    for who in library floor; do
        traced "$who" 10 >"$work_t/$who.10"
        traced "$who" 40 >"$work_t/$who.40"
    done
    printf '  %-12s %9s %9s\n' call library floor
    awk '
        FNR == 1 { f++ }
        { c[f, $1] = $2; names[$1] = 1 }
        END {
            for (n in names) {
                l = (c[2, n] - c[1, n]) / 30; fl = (c[4, n] - c[3, n]) / 30
                if (l != 0 || fl != 0) printf "  %-12s %9.1f %9.1f\n", n, l, fl
            }
        }' "$work_t/library.10" "$work_t/library.40" "$work_t/floor.10" "$work_t/floor.40" | sort
    awk 'FNR == 1 { f++ } { t[f] += $2 } END { printf "  %-12s %9.1f %9.1f\n", "total", (t[2] - t[1]) / 30, (t[4] - t[3]) / 30 }' \
        "$work_t/library.10" "$work_t/library.40" "$work_t/floor.10" "$work_t/floor.40"
    echo
else
    echo "== strace is not installed: no cross-check of the system call counts"
    echo
fi

# User-space work per sale, free of the scheduler's noise and of the
# tick-based CPU accounting: instructions counted by valgrind's callgrind
# in the selling process over 10 and over 40 sales.
if command -v valgrind >/dev/null; then
    echo "== User-space instructions per sale by valgrind (tmpfs; (40 sales - 10 sales) / 30)"
    # insns WHO N: instructions of the selling process of one run.
    insns() {
        local s d; s=$(fresh "$work_t"); d=$(mktemp -d "$work_t/cg-XXXXXX")
        if [ "$1" = floor ]; then
            "$sale" "$s" 0
            valgrind --tool=callgrind --callgrind-out-file="$d/cg.%p" "$floor" "$s" "$2" >/dev/null 2>&1
        else
            valgrind --tool=callgrind --callgrind-out-file="$d/cg.%p" "$sale" "$s" "$2" >/dev/null 2>&1
        fi
        sed -n 's/^summary: //p' "$d"/cg.* | sort -g | tail -1
        rm -rf "$s" "$d"
    }
    li=$(( ($(insns library 40) - $(insns library 10)) / 30 ))
    fi=$(( ($(insns floor 40) - $(insns floor 10)) / 30 ))
    printf '  library %9d  floor %9d  (library - floor: %d)\n' "$li" "$fi" $((li - fi))
    echo
fi

echo "== The floor's locks (tmpfs, 5 rounds of $n_tmpfs sales each, alternately)"
declare -A vsps vcalls
for ((i = 1; i <= 5; i++)); do
    for mode in all no-read needed; do
        r=$(flr "$work_t" "$n_tmpfs" "--locks=$mode")
        vsps[$mode]+="$(field sales_per_s "$r") "
        vcalls[$mode]=$(field calls_per_sale "$r")
    done
done
base=$(tr ' ' '\n' <<<"${vsps[all]}" | grep . | median)
for mode in all no-read needed; do
    m=$(tr ' ' '\n' <<<"${vsps[$mode]}" | grep . | median)
    printf '  --locks=%-8s %8.1f sales/s (median)  %6.1f calls/sale  %.3f of all locks\n' \
        "$mode" "$m" "${vcalls[$mode]}" "$(awk -v a="$m" -v b="$base" 'BEGIN {print a / b}')"
done
echo

echo "== Queues by size (tmpfs; the items stored through bx_api_store)"
printf '  %8s %-14s %12s %14s\n' items operation "us/call" "fs calls/call"
"$queues" "$work_t/queues" $queue_sizes 2>"$work_t/queues.err" | while read -r line; do
    printf '  %8s %-14s %12s %14s\n' "$(field size "$line")" "$(field op "$line")" \
        "$(field us_per_call "$line")" "$(field fs_calls_per_call "$line")"
done
sed 's/^/  /' "$work_t/queues.err"
rm -rf "$work_t/queues"
echo

# scale NAME PARENT N REPS: sellers at once, one spool and one each.
scale() {
    local name=$1 parent=$2 n=$3 reps=$4 p mode r i
    echo "== Processes selling at once on $name ($n sales each; median of $reps runs)"
    printf '  %5s  %-9s %10s %9s %9s %9s\n' procs spools "sales/s" "p50 us" "p90 us" "p99 us"
    for p in 1 2 4 8; do
        for mode in one separate; do
            local runs=()
            for ((i = 1; i <= reps; i++)); do
                local s; s=$(fresh "$parent")
                local flag=; [ "$mode" = separate ] && flag=-s
                runs+=("$("$sale" -l -p "$p" $flag "$s" "$n")")
                rm -rf "$s"
            done
            # The run of median throughput.
            r=$(for x in "${runs[@]}"; do echo "$(field sales_per_s "$x") $x"; done | sort -g |
                sed -n "$(((reps + 1) / 2))p" | cut -d' ' -f2-)
            printf '  %5s  %-9s %10s %9s %9s %9s\n' "$p" "$mode" "$(field sales_per_s "$r")" \
                "$(field lockwait_us_p50 "$r")" "$(field lockwait_us_p90 "$r")" "$(field lockwait_us_p99 "$r")"
        done
    done
    echo
}
scale "tmpfs" "$work_t" "$scale_n" 3
scale "disk" "$work_d" "$scale_n_disk" 1

echo "== One sale through PHP and in C++ (tmpfs, 5 pairs of $php_n sales)"
php_so=$build/php/brix.so
if command -v php8.2 >/dev/null && [ -f "$php_so" ]; then
    php_sps=() cpp_sps=() php_cpu=() cpp_cpu=()
    for ((i = 1; i <= 5; i++)); do
        s=$(fresh "$work_t"); conf=$(mktemp -d "$work_t/conf-XXXXXX")
        "$sale" -c "$conf" "$s" 0
        r=$(BRIX_CONFIG_DIR=$conf php8.2 -n -d extension="$php_so" bench/bench_sale.php bench "$php_n")
        rm -rf "$s" "$conf"
        php_sps+=("$(field sales_per_s "$r")"); php_cpu+=("$(field cpu_us_per_sale "$r")")
        r=$(lib "$work_t" "$php_n")
        cpp_sps+=("$(field sales_per_s "$r")"); cpp_cpu+=("$(field cpu_us_per_sale "$r")")
    done
    pm=$(printf '%s\n' "${php_sps[@]}" | median); cm=$(printf '%s\n' "${cpp_sps[@]}" | median)
    pc=$(printf '%s\n' "${php_cpu[@]}" | median); cc=$(printf '%s\n' "${cpp_cpu[@]}" | median)
    printf '  sales/s:      PHP %8.1f  C++ %8.1f  (medians; PHP/C++ %.3f)\n' "$pm" "$cm" \
        "$(awk -v a="$pm" -v b="$cm" 'BEGIN {print a / b}')"
    printf '  CPU us/sale:  PHP %8.1f  C++ %8.1f  (medians; C++/PHP %.3f)\n' "$pc" "$cc" \
        "$(awk -v a="$cc" -v b="$pc" 'BEGIN {print a / b}')"
else
    echo "  php8.2 or $php_so is missing: not measured"
fi
echo
echo "== Done in $(($(date +%s) - started)) s"
