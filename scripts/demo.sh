#!/usr/bin/env bash
# The demonstration (`make demo`): a whole card sale through the PHP
# extension and the demonstration daemon, start to finish.
#
# Writes two merchant configurations into demo-run/ (git-ignored, made
# afresh at every run): "demo" of protocol dialdemo and "demo-nashville"
# of protocol Nashville, scrambled with brix-config.  Starts brix-demod on
# the "demo" spool in the background, runs examples/sale.php with php8.2
# and the extension, and stops the daemon again, also when a step fails
# or the run is interrupted.  Exits non-zero when any step does not give
# the expected result.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

root=$PWD
run="$root/demo-run"
# The library's log lines of the demonstration, when there is no system log
# to take them (a container, a fresh machine): kept beside the run.
[ -S /dev/log ] || export BRIX_LOG_FILE="$run/brix.log"
conf="$run/conf"
php=php8.2
module="$root/build/php/brix.so"
demod="$root/build/brix-demod"

fail() {
    echo "demo: $*" >&2
    exit 1
}

command -v "$php" >/dev/null 2>&1 || fail "$php is not installed (make demo runs scripts/bootstrap.sh)"
for f in "$module" "$demod" build/brix-config build/brix; do
    [ -x "$f" ] || [ -f "$f" ] || fail "$f is not built (run: make demo)"
done

daemon_pid=
stop_daemon() {
    [ -n "$daemon_pid" ] || return 0
    local pid=$daemon_pid
    daemon_pid=
    kill -TERM "$pid" 2>/dev/null || true
    local rc=0
    wait "$pid" || rc=$?
    return "$rc"
}
trap 'stop_daemon || true' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A daemon of an earlier, killed run would still hold the spool.
if [ -f "$run/brix-demod.pid" ] && kill -0 "$(cat "$run/brix-demod.pid")" 2>/dev/null &&
    grep -q brix-demod "/proc/$(cat "$run/brix-demod.pid")/cmdline" 2>/dev/null; then
    fail "brix-demod of an earlier demo still runs (process $(cat "$run/brix-demod.pid")); stop it first"
fi
rm -rf "$run"
mkdir -p "$conf"

echo "== Configurations (in $conf)"
user=$(id -un)
{ demo_config "$user" "$run/spool"; echo "DemoDelayDial: 1"; } | write_config build "$conf/demo.conf"
write_config build "$conf/demo-nashville.conf" <<CONF
Uname: $user
ClearingProtocol: Nashville
BRIXPath: $run/spool-nashville
ModemPort: /dev/null
MerchantNo: 000000927997
PhoneNumber: 5550100
CONF
for name in demo demo-nashville; do
    build/brix-config check "$conf/$name.conf" >/dev/null
    echo "   $name.conf: protocol $(build/brix-config get "$conf/$name.conf" ClearingProtocol)," \
        "data in $(build/brix-config get "$conf/$name.conf" BRIXPath)"
done
export BRIX_CONFIG_DIR=$conf

echo "== Starting brix-demod -c demo (polls every 0.2 s, log in demo-run/brix-demod.log)"
served=0
start_demod "$run/brix-demod.log" "$demod" -c demo -i 0.2 -v || served=$?
daemon_pid=$DEMOD_PID
echo "$daemon_pid" >"$run/brix-demod.pid"
if [ "$served" -ne 0 ]; then
    cat "$run/brix-demod.log" >&2
    fail "brix-demod did not start"
fi
echo "   running as process $daemon_pid"

echo "== examples/sale.php"
"$php" -n -d extension="$module" examples/sale.php demo demo-nashville

echo
echo "== Stopping brix-demod"
stop_daemon || fail "brix-demod exited with status $? (see demo-run/brix-demod.log)"
rm -f "$run/brix-demod.pid"
grep -q 'stopping' "$run/brix-demod.log" || fail "brix-demod did not stop cleanly"
echo "   stopped; its log:"
grep -v 'Creating spooldir' "$run/brix-demod.log" | sed 's/^/   | /'
build/brix -c demo check >/dev/null || fail "brix check found damage in the spool"
echo "   brix -c demo check: the spool is sound"
echo
echo "demo: OK"
