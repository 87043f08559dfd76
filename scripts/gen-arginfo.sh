#!/usr/bin/env bash
# Regenerates php/brix_arginfo.h from php/brix.stub.php with PHP's own
# gen_stub.php, offline: the PHP parser it needs comes from Debian's
# php-parser package instead of a download.  Run after changing the stub;
# tests/php/signatures.phpt fails while the two disagree.
set -euo pipefail
cd "$(dirname "$0")/.."

php=php8.2
gen=$(php-config8.2 --extension-dir)/build/gen_stub.php
[ -f "$gen" ] || gen=$(ls /usr/lib/php/*/build/gen_stub.php 2>/dev/null | head -1)
[ -f "$gen" ] || { echo "gen-arginfo: gen_stub.php not found (php8.2-dev)" >&2; exit 1; }
[ -d /usr/share/php/PhpParser ] || { echo "gen-arginfo: install php-parser (apt-get install php-parser)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/brix-genstub-XXXXXX")
trap 'rm -rf "$work"' EXIT
cp "$gen" "$work/gen_stub.php"
# gen_stub.php loads the parser from PHP-Parser-<version>/lib beside itself.
version=$(sed -n 's/.*\$version = "\([0-9.]*\)";.*/\1/p' "$gen" | head -1)
mkdir -p "$work/PHP-Parser-$version"
ln -s /usr/share/php "$work/PHP-Parser-$version/lib"
"$php" "$work/gen_stub.php" -f php/brix.stub.php
echo "gen-arginfo: php/brix_arginfo.h written"
