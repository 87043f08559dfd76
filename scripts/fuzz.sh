#!/usr/bin/env bash
# Fuzzes every target of fuzz/ with libFuzzer: builds them with clang in
# build-fuzz, then runs each for T seconds (first argument, default 30),
# one after the other, on a scratch copy of its corpus fuzz/corpus/<name>/.
# The committed corpus is only read: what a run finds stays in the scratch
# copy and goes when the script ends.  An input that crashes a target, leaks
# or runs over the time limit is kept in build-fuzz/artifacts/<name>/, the
# end of that target's log is shown, and the script fails.
#
# scripts/bootstrap.sh fuzz installs clang and libFuzzer first (make fuzz
# does that).
set -euo pipefail
cd "$(dirname "$0")/.."

T=${1:-30}
JOBS=${JOBS:-2}
case $T in
    '' | *[!0-9]*) echo "fuzz: seconds must be a whole number, not '$T'" >&2; exit 2 ;;
esac

cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DBRIX_FUZZ=ON -DBRIX_TESTS=OFF >/dev/null
cmake --build build-fuzz --target fuzz_all -j"$JOBS" -- --no-print-directory

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=()
for src in fuzz/fuzz_*.cpp; do
    target=$(basename "$src" .cpp)
    name=${target#fuzz_}
    corpus=$scratch/$name
    artifacts=build-fuzz/artifacts/$name
    mkdir -p "$corpus" "$artifacts"
    cp fuzz/corpus/"$name"/* "$corpus"/
    echo "== $target: $T s from $(ls "$corpus" | wc -l) seeds"
    log=$scratch/$name.log
    if build-fuzz/"$target" -max_total_time="$T" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts"/ "$corpus" >"$log" 2>&1; then
        # "#123456 DONE cov: 456 ft: 789 corp: 40/2Kb ..." and "Done 123456 runs in 30 second(s)"
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1
    else
        tail -n 40 "$log"
        echo "!! $target failed; its input is in $artifacts/"
        failed+=("$target")
    fi
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: ${#failed[@]} target(s) failed: ${failed[*]}"
    exit 1
fi
echo "fuzz: every target ran $T s without a finding"
