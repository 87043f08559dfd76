#!/usr/bin/env bash
# `make install`: the PHP extension into PHP's extension directory, its
# ini file into PHP's mods-available (enable it with phpenmod), the tools
# into PREFIX/bin, the IDE stub and the README under PREFIX/share.
#
#   DESTDIR  staging root, prefixed to every path (package builds)
#   PREFIX   prefix of the tools and shared files (default /usr/local)
#   DOCDIR   where the README goes (default PREFIX/share/doc/brix)
#
# Exits non-zero, having installed nothing, when something is not built.
set -euo pipefail
cd "$(dirname "$0")/.."

destdir=${DESTDIR:-}
prefix=${PREFIX:-/usr/local}
docdir=${DOCDIR:-$prefix/share/doc/brix}
php_config=php-config8.2
command -v "$php_config" >/dev/null 2>&1 || { echo "install: $php_config not found (php8.2-dev)" >&2; exit 1; }
extdir=$("$php_config" --extension-dir)
phpver=$("$php_config" --version | cut -d. -f1,2)
modsdir=/etc/php/$phpver/mods-available
tools=(build/brix build/brix-config build/brix-demod)

for f in build/php/brix.so "${tools[@]}"; do
    [ -f "$f" ] || { echo "install: $f is not built (make build)" >&2; exit 1; }
done

install -d "$destdir$extdir" "$destdir$modsdir" "$destdir$prefix/bin" \
    "$destdir$prefix/share/brix" "$destdir$docdir"
install -m 0644 build/php/brix.so "$destdir$extdir/brix.so"
strip --strip-unneeded "$destdir$extdir/brix.so"
install -m 0644 php/brix.ini "$destdir$modsdir/brix.ini"
install -m 0755 -s "${tools[@]}" "$destdir$prefix/bin/"
install -m 0644 php/brix.stub.php "$destdir$prefix/share/brix/brix.stub.php"
install -m 0644 README.md "$destdir$docdir/README.md"

echo "install: $destdir$extdir/brix.so, $destdir$modsdir/brix.ini, tools in $destdir$prefix/bin"
if [ -z "$destdir" ]; then
    echo "install: enable the extension with: phpenmod -v $phpver brix"
fi
