#!/usr/bin/env bash
# Runs every test step: the suite in the normal build, the same suite under
# AddressSanitizer and UndefinedBehaviorSanitizer, the PHP tests, and the
# extension where merchants run it (package, php-fpm behind nginx, browser),
# and two web servers on one spool on a GlusterFS volume.
#
# Each step counts by its own result lines and by its exit status: a step
# that exits non-zero without a failed line counts one failure, and a step
# that reports nothing at all counts one failure.  A skipped test is never
# a pass; run as root (as CI runs) any skip fails the run.  Ends with one
# line "N passed, N failed, N skipped".
set -uo pipefail
cd "$(dirname "$0")/.."

passed=0
failed=0
skipped=0
log=$(mktemp)
# Whatever the library and the tools log during the tests goes to one file
# of this run, never to the host's system log or console.
logdir=$(mktemp -d)
chmod 0755 "$logdir"
export BRIX_LOG_FILE="$logdir/brix.log"
trap 'rm -f "$log"; rm -rf "$logdir"' EXIT

count() { grep -cE "$1" "$log"; }

# tally RC PASSED FAILED SKIPPED: adds one step's counts.
tally() {
    local rc=$1 p=$2 f=$3 s=$4
    if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
        echo "!! step exited with status $rc but reported no failed test"
        f=1
    fi
    if [ $((p + f + s)) -eq 0 ]; then
        echo "!! step reported no test at all"
        f=1
    fi
    passed=$((passed + p))
    failed=$((failed + f))
    skipped=$((skipped + s))
}

# One ctest result line per test case: "  n/N Test #n: Name ....   Passed".
ctest_step() {   # ctest_step TITLE BUILD-DIR
    echo "== $1"
    if [ ! -f "$2/CTestTestfile.cmake" ]; then
        echo "!! $2 holds no test build"
        tally 1 0 1 0
        return
    fi
    ctest --test-dir "$2" --output-on-failure -j2 2>&1 | tee "$log"
    local rc=${PIPESTATUS[0]}
    local line='^ *[0-9]+/[0-9]+ Test +#[0-9]+: '
    tally "$rc" "$(count "$line.* Passed +[0-9.]+ sec")" \
        "$(count "$line.*\*\*\*(Failed|Exception|Timeout)|$line.*Not Run")" \
        "$(count "$line.*\*\*\*Skipped")"
}

ctest_step "test suite (build)" build

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest_step "test suite under ASan+UBSan (build-asan)" build-asan
unset ASAN_OPTIONS UBSAN_OPTIONS

# A script step: one "PASS ..." or failed line per test.
script_step() {   # script_step TITLE FAILED-PATTERN COMMAND...
    echo "== $1"
    local failed_re=$2
    shift 2
    "$@" 2>&1 | tee "$log"
    tally "${PIPESTATUS[0]}" "$(count '^PASS ')" "$(count "$failed_re")" "$(count '^SKIP ')"
}

script_step "PHP tests" '^(FAIL|BORK|LEAK|WARN) ' bash scripts/php-tests.sh
script_step "PHP package, under php-fpm and nginx, and in a browser" '^FAIL ' bash scripts/web-tests.sh
script_step "Two web servers on one spool, on a replica-3 GlusterFS volume" '^FAIL ' bash scripts/cluster.sh --test

echo "$passed passed, $failed failed, $skipped skipped"
if [ "$skipped" -gt 0 ] && [ "$(id -u)" -eq 0 ]; then
    echo "!! tests were skipped in a run as root, where every test can run"
    exit 1
fi
[ "$failed" -eq 0 ]
