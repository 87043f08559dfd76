#!/usr/bin/env bash
# Runs every test: the suite in the normal build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the PHP tests when
# the extension is built.  Ends with one "N passed, N failed" line.
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
tally() {   # tally LOGFILE: adds ctest's counts
    local line total fails
    line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$1" | tail -n1)
    if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
    fails=$(sed -E 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    total=$(sed -E 's/.*tests passed, ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + total - fails))
    failed=$((failed + fails))
}

log=$(mktemp)
echo "== test suite (build)"
ctest --test-dir build --output-on-failure -j2 2>&1 | tee "$log"
tally "$log"

echo "== test suite under ASan+UBSan (build-asan)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir build-asan --output-on-failure -j2 2>&1 | tee "$log"
tally "$log"

if [ -x scripts/php-tests.sh ] && [ -f build/php/brix.so ]; then
    echo "== PHP tests"
    if scripts/php-tests.sh 2>&1 | tee "$log"; then :; fi
    p=$(grep -cE '^PASS' "$log"); f=$(grep -cE '^FAIL' "$log")
    passed=$((passed + p)); failed=$((failed + f))
fi
rm -f "$log"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
