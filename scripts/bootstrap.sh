#!/usr/bin/env bash
# Installs what the build and the tests need on a Debian machine, and does
# nothing when everything is already there.  `bootstrap.sh fuzz` also
# installs what `make fuzz` needs: clang and its runtime libraries, which
# hold libFuzzer (the ordinary build and the tests need neither).
set -euo pipefail
mode=${1:-}

need=()
have_cmd() { command -v "$1" >/dev/null 2>&1; }
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

have_cmd cmake || need+=(cmake)
have_cmd g++ || need+=(g++)
have_cmd make || need+=(make)
have_pkg libgtest-dev || need+=(libgtest-dev)
have_cmd php8.2 || need+=(php8.2-cli)
have_cmd phpize8.2 || need+=(php8.2-dev)
# The web tests and `make demo-web`: php-fpm behind nginx, and a browser.
have_cmd php-fpm8.2 || need+=(php8.2-fpm)
have_cmd nginx || need+=(nginx)
have_cmd chromium || need+=(chromium)
have_cmd chromedriver || need+=(chromium-driver)
have_pkg python3-selenium || need+=(python3-selenium)
# The cluster run (make cluster-demo and a step of make test).
have_pkg glusterfs-server || need+=(glusterfs-server)
have_pkg glusterfs-client || need+=(glusterfs-client)
if [ "$mode" = fuzz ]; then
    have_cmd clang++ || need+=(clang)
    have_pkg libclang-rt-14-dev || need+=(libclang-rt-14-dev)
fi

if [ ${#need[@]} -eq 0 ]; then
    exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "bootstrap: missing packages: ${need[*]} (run as root to install them)" >&2
    exit 1
fi
echo "bootstrap: installing ${need[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${need[@]}" >/dev/null
