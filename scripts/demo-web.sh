#!/usr/bin/env bash
# `make demo-web`: the example shop (examples/shop/) served by nginx and
# php-fpm with the brix extension on 127.0.0.1, brix-demod processing its
# payments (scripts/web-stack.sh).  Prints the address and serves until
# interrupted (Ctrl-C), then stops everything and removes its temporary
# run directory.  Exits non-zero when a part does not start or one of
# them stops by itself.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/web-stack.sh

run=$(mktemp -d "${TMPDIR:-/tmp}/brix-demo-web-XXXXXX")
trap 'stack_stop || true; rm -rf "$run"' EXIT
trap 'echo; echo "demo-web: stopping"; exit 0' INT TERM

stack_start "$run" shop examples/shop
cat <<TEXT
demo-web: the shop:            $STACK_URL/
          the operator page:   $STACK_URL/operator.php
          (an amount ending in .01 is declined; any card number with a
          valid check digit, e.g. 4111 1111 1111 1111, and a future expiry)
          php-fpm pool of 4 workers as user $STACK_USER, brix-demod on configuration "shop",
          logs under $run
          Ctrl-C stops.
TEXT
wait -n "${stack_pids[@]}" || true
echo "demo-web: a part of the stack stopped by itself; logs:" >&2
tail -n 5 "$run/demod.log" "$run/fpm/php-fpm.log" "$run/nginx/error.log" >&2 || true
exit 1
