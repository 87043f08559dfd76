#!/usr/bin/env bash
# The demonstration: writes a demo merchant configuration with brix-config
# into a fresh directory and runs a transaction through the library.
set -euo pipefail
cd "$(dirname "$0")/.."

run="$PWD/demo-run"
rm -rf "$run"
mkdir -p "$run/conf"

cat > "$run/demo.plain" <<CONF
Uname: $(id -un)
ClearingProtocol: demo
BRIXPath: $run/spool
ModemPort: /dev/null
MerchantNo: 000000927996
MerchantName: BRIX DEMO SHOP
MerchantCity: SPRINGFIELD
MerchantState: IL
MerchantZIP: 62701
CONF

echo "== configuration (plain text)"
cat "$run/demo.plain"
build/brix-config encode -o "$run/conf/demo.conf" "$run/demo.plain"
echo "== scrambled configuration written to $run/conf/demo.conf"
build/brix-config check "$run/conf/demo.conf"
echo
BRIX_CONFIG_DIR="$run/conf" build/brix-demo demo
