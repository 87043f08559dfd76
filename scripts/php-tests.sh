#!/usr/bin/env bash
# Runs the PHP tests (tests/php/*.phpt) against the built extension
# build/php/brix.so with PHP's own test runner, one result line per test
# ("PASS ...", "FAIL ...", "SKIP ...").
#
# Exits non-zero when anything is wrong, never with a false green: PHP 8.2
# or its test runner missing, the extension not built or not loadable with
# every symbol bound, any failed, broken or skipped test, or no test passed.
# The tests run on a copy in a scratch directory, so a failed run leaves
# its output files there, not in the source tree (the differences are
# printed).
set -uo pipefail
cd "$(dirname "$0")/.."

php=php8.2
php_config=php-config8.2
module="$PWD/build/php/brix.so"

fail() {
    echo "php-tests: $*" >&2
    exit 1
}

command -v "$php" >/dev/null 2>&1 || fail "$php is not installed"
command -v "$php_config" >/dev/null 2>&1 || fail "$php_config is not installed (php8.2-dev)"
[ -f "$module" ] || fail "the extension is not built: $module"
LD_BIND_NOW=1 "$php" -n -d extension="$module" -r 'exit(extension_loaded("brix") ? 0 : 1);' ||
    fail "the extension does not load with every symbol bound: $module"

runner=
for candidate in "$("$php_config" --extension-dir)/build/run-tests.php" \
                 "$("$php_config" --prefix)/lib/php/build/run-tests.php" \
                 /usr/lib/php/*/build/run-tests.php; do
    if [ -f "$candidate" ]; then
        runner=$candidate
        break
    fi
done
[ -n "$runner" ] || fail "PHP's run-tests.php was not found (php8.2-dev)"

ls tests/php/*.phpt >/dev/null 2>&1 || fail "no tests in tests/php"
work=$(mktemp -d "${TMPDIR:-/tmp}/brix-phpt-XXXXXX") || fail "cannot create a scratch directory"
trap 'rm -rf "$work"' EXIT
cp tests/php/*.phpt tests/php/*.inc php/brix.stub.php "$work"/ 2>/dev/null
out="$work/run.log"

NO_INTERACTION=1 REPORT_EXIT_STATUS=1 "$php" -n "$runner" -n -P -q --no-progress --no-color \
    --show-diff -d extension="$module" "$work" 2>&1 | tee "$out"
rc=${PIPESTATUS[0]}

passed=$(grep -c '^PASS ' "$out")
skipped=$(grep -c '^SKIP ' "$out")
broken=$(grep -cE '^(FAIL|BORK|LEAK|WARN) ' "$out")
[ "$rc" -eq 0 ] || fail "run-tests.php exited with status $rc"
[ "$broken" -eq 0 ] || fail "$broken tests failed"
[ "$skipped" -eq 0 ] || fail "$skipped tests were skipped; every test must run"
[ "$passed" -gt 0 ] || fail "no test passed"
echo "php-tests: $passed passed"
