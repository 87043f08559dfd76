#!/usr/bin/env bash
# `make deb`: builds php8.2-brix_VERSION_ARCH.deb with dpkg-deb from what
# scripts/install.sh installs under /usr: the extension, its ini file
# (a conffile), the tools, the IDE stub and the README.  Installing the
# package enables the extension for every PHP 8.2 SAPI; removing it
# disables it again.
#
#   scripts/make-deb.sh [OUTPUT-DIR]     (default: build)
#
# Prints the path of the package it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

out=${1:-build}
pkg=php8.2-brix
php=php8.2
[ -f build/php/brix.so ] || { echo "make-deb: build/php/brix.so is not built (make build)" >&2; exit 1; }
version=$("$php" -n -d extension="$PWD/build/php/brix.so" -r 'echo phpversion("brix");')
[ -n "$version" ] || { echo "make-deb: the extension does not load" >&2; exit 1; }
arch=$(dpkg --print-architecture)
phpapi=$(php-config8.2 --phpapi)

stage=$(mktemp -d "${TMPDIR:-/tmp}/brix-deb-XXXXXX")
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root PREFIX=/usr DOCDIR=/usr/share/doc/$pkg bash scripts/install.sh >/dev/null
mkdir -p "$root/DEBIAN"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)

cat >"$root/DEBIAN/control" <<CONTROL
Package: $pkg
Version: $version
Architecture: $arch
Section: php
Priority: optional
Maintainer: brix developers <brix@localhost>
Installed-Size: $size
Depends: php-common, php8.2-common, phpapi-$phpapi, libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1
Description: brix payment transactions for PHP 8.2
 The PHP extension brix gives merchants' PHP scripts the sixteen bx_*
 functions that queue card, cheque and ACH transactions on disk for a
 processing daemon, with the operator's tools brix, brix-config and
 brix-demod.  The directory of the merchant configurations is set with
 brix.config_dir in /etc/php/8.2/mods-available/brix.ini or a php-fpm pool.
CONTROL
find "$root/etc" -type f | sed "s|^$root||" >"$root/DEBIAN/conffiles"

# Enabling and disabling go through PHP's own helper, as Debian's PHP
# extension packages do (it also restarts php-fpm when that runs).
cat >"$root/DEBIAN/postinst" <<'SCRIPT'
#!/bin/sh
set -e
if [ "$1" = configure ] && [ -e /usr/lib/php/php-maintscript-helper ]; then
    . /usr/lib/php/php-maintscript-helper
    php_invoke enmod 8.2 ALL brix
fi
exit 0
SCRIPT
cat >"$root/DEBIAN/postrm" <<'SCRIPT'
#!/bin/sh
set -e
if [ "$1" = remove ] && [ -e /usr/lib/php/php-maintscript-helper ]; then
    . /usr/lib/php/php-maintscript-helper
    php_invoke dismod 8.2 ALL brix
fi
if [ "$1" = purge ]; then
    find /etc/php -type l -lname /etc/php/8.2/mods-available/brix.ini -delete 2>/dev/null || true
    # What the helper noted about the module, per SAPI.
    for note in /var/lib/php/modules/8.2/*/*_by_*/brix; do
        [ -e "$note" ] || continue
        rm -f "$note"
        rmdir --ignore-fail-on-non-empty "$(dirname "$note")"
    done
fi
exit 0
SCRIPT
chmod 0755 "$root/DEBIAN/postinst" "$root/DEBIAN/postrm"

mkdir -p "$out"
deb="$out/${pkg}_${version}_${arch}.deb"
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
