#!/usr/bin/env bash
# The PHP extension where merchants run it, one result line per test
# ("PASS name" or "FAIL name"):
#   package   make-deb's package unpacked into a scratch root (dpkg-deb -x):
#             exactly its files, its control data, and PHP loading the
#             extension through the packaged ini file
#   php-fpm   200 sales over HTTP, 8 clients at once, through a pool of 4
#             php-fpm workers behind nginx (tests/web/fpm_test.py)
#   browser   the example shop's checkout in headless Chromium
#             (tests/web/browser_test.py); screenshots in build/web/
# php-fpm, nginx and brix-demod run as scripts/web-stack.sh starts them,
# everything under one temporary directory that is removed at the end;
# a failed test prints the logs.  Exits non-zero when any test failed or
# could not run.
set -uo pipefail
cd "$(dirname "$0")/.."
. scripts/web-stack.sh

pending=(package php-fpm browser)   # tests without a result line yet
failed=0
finish() {
    local t
    for t in "${pending[@]}"; do echo "FAIL $t (could not run)"; done
    stack_stop || { echo "FAIL web stack: a part did not stop cleanly"; show_logs; }
    rm -rf "$work"
}
work=$(mktemp -d "${TMPDIR:-/tmp}/brix-web-XXXXXX") || exit 1
chmod 0755 "$work"     # the pool's user works in $work/run
trap finish EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

result() {   # result NAME STATUS
    local t rest=()
    for t in "${pending[@]}"; do [ "$t" = "$1" ] || rest+=("$t"); done
    pending=("${rest[@]}")
    if [ "$2" -eq 0 ]; then
        echo "PASS $1"
    else
        echo "FAIL $1"
        failed=$((failed + 1))
        [ "$1" = package ] || show_logs
    fi
}

test_package() {
    local deb root version extdir want got
    deb=$(scripts/make-deb.sh "$work/deb") || return 1
    version=$(php8.2 -n -d extension="$PWD/build/php/brix.so" -r 'echo phpversion("brix");')
    [ "$(basename "$deb")" = "php8.2-brix_${version}_$(dpkg --print-architecture).deb" ] ||
        { echo "package: named $(basename "$deb")"; return 1; }
    root=$work/deb/root
    dpkg-deb -x "$deb" "$root" || return 1
    extdir=$(php-config8.2 --extension-dir)
    want=$(printf '%s\n' "/etc/php/8.2/mods-available/brix.ini 644" "$extdir/brix.so 644" \
        /usr/bin/brix\ 755 /usr/bin/brix-config\ 755 /usr/bin/brix-demod\ 755 \
        "/usr/share/brix/brix.stub.php 644" "/usr/share/doc/php8.2-brix/README.md 644" | sort)
    got=$(cd "$root" && find . -type f -printf '/%P %m\n' | sort)
    [ "$got" = "$want" ] || { echo "package: files differ:"; diff <(echo "$want") <(echo "$got"); return 1; }
    [ "$(dpkg-deb -f "$deb" Package)" = php8.2-brix ] && [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] &&
        dpkg-deb -f "$deb" Depends | grep -q "phpapi-$(php-config8.2 --phpapi)" &&
        [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/php/8.2/mods-available/brix.ini ] &&
        dpkg-deb -I "$deb" postinst | grep -q 'php_invoke enmod 8.2 ALL brix' ||
        { echo "package: control data:"; dpkg-deb -I "$deb"; return 1; }
    # PHP with the packaged ini file as its only one, the packaged extension directory.
    got=$(PHP_INI_SCAN_DIR= php8.2 -c "$root/etc/php/8.2/mods-available/brix.ini" -d extension_dir="$root$extdir" \
        -r 'echo function_exists("bx_init") ? "yes" : "no", " ", count(get_extension_funcs("brix"));')
    [ "$got" = "yes 16" ] || { echo "package: the packaged extension does not load: $got"; return 1; }
    "$root/usr/bin/brix" --help >/dev/null || { echo "package: the packaged brix does not run"; return 1; }
}

show_logs() {
    local f
    for f in "$work/run/demod.log" "$work/run/fpm/php-fpm.log" "$work/run/fpm/php-errors.log" \
             "$work/run/nginx/error.log"; do
        [ -s "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }
    done
}

test_package
result package $?

# A failed start ends the script here; finish reports what did not run.
stack_start "$work/run" shop examples/shop tests/web/fpm-sale.php
/usr/bin/python3 tests/web/fpm_test.py "$STACK_URL" "$STACK_FPM_PID" "$work/run" build/brix shop "$STACK_UID"
result php-fpm $?

mkdir -p build/web
rm -f build/web/*.png
/usr/bin/python3 tests/web/browser_test.py "$STACK_URL" "$work/run" build/brix shop build/web
result browser $?

[ "$failed" -eq 0 ]
