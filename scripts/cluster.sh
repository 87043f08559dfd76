#!/usr/bin/env bash
# Several web servers on one spool: brix on a replicated GlusterFS volume.
#
#   scripts/cluster.sh          the demonstration (make cluster-demo): sales
#                               through one mount, then two, with the figures
#   scripts/cluster.sh --test   a short run of the same and the failure
#                               cases, one "PASS ..."/"FAIL ..." line each
#                               (a step of make test)
#
# On this one machine it plays a merchant's cluster: a replica-3 volume on
# three bricks (three directories of a scratch directory), mounted twice
# through FUSE as web servers A and B, each with its own merchant
# configuration naming the same spool through its own mount, brix-demod
# serving the spool through mount A, and PHP processes on both mounts
# selling and authorising at once (invoices created on one web server and
# sold on the other).  One brick process is killed in the middle and
# brought back; the run waits for the self-heal and times it.  Then it
# checks that every acknowledged invoice is in exactly one queue with its
# amount, that both web servers give the same answers byte for byte, that
# the three bricks hold the same bytes, and that `brix check` finds the
# spool sound through both mounts.  --test then adds the failure cases:
# two bricks stopped while both web servers sell (quorum lost), and web
# server B's GlusterFS client killed while a PHP process of A is killed,
# both mid-sale.  Every call that meets the fault must fail with its
# failure code and a log line, and afterwards the same invariants hold
# through the surviving mount.  BRIX_CLUSTER_PROCS, _SALES, _CROSS and
# _DOWN size the demonstration; BRIX_FLOOR names a floor program.
#
# Everything runs in private mount, network and process namespaces:
# glusterd's state, logs and sockets, the bricks and the mounts live in a
# scratch directory (the machine's /var/lib/glusterd, /var/log and /run
# are never written), the servers listen on a loopback device of their
# own, and when the run ends (done, failed or interrupted) the namespace's
# processes -- glusterd, bricks, self-heal daemon, FUSE clients, brix-demod,
# PHP -- are stopped and the scratch directory removed.  BRIX_CLUSTER_KEEP=1
# keeps the directory (only the files) for a look afterwards.
#
# Exits non-zero when gluster cannot be started or any check fails: a
# cluster run that cannot run fails, it is never skipped.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
mode=demo
case "${1:-}" in
    '') ;;
    --test) mode=test ;;
    *) echo "usage: scripts/cluster.sh [--test]" >&2; exit 2 ;;
esac

# --- Outside the namespaces: check, start the inner run, clean up. -------
if [ -z "${BRIX_CLUSTER_DIR:-}" ]; then
    fail() { echo "FAIL cluster: $*"; exit 1; }
    [ "$(id -u)" -eq 0 ] || fail "needs root (namespaces, FUSE mounts, glusterd)"
    for cmd in glusterd gluster glusterfs unshare ip php8.2; do
        command -v "$cmd" >/dev/null 2>&1 || fail "$cmd is not installed (scripts/bootstrap.sh installs it)"
    done
    for f in build/brix build/brix-config build/brix-demod build/php/brix.so; do
        [ -f "$here/$f" ] || fail "$f is not built (make build)"
    done
    [ -c /dev/fuse ] || fail "/dev/fuse is missing"
    [ -d /var/lib/glusterd ] && [ -d /var/log/glusterfs ] || fail "glusterfs-server is not installed"
    dir=$(mktemp -d /tmp/brix-cluster-XXXXXX) || fail "cannot create a scratch directory"
    chmod 0755 "$dir"
    inner=
    finish() {
        # unshare ignores TERM while it waits: the namespaces' first process
        # is told to stop everything; failing that in 30 s, killing unshare
        # kills it, and with it every process of the namespaces.
        if [ -n "$inner" ]; then
            local first i
            first=$(pgrep -P "$inner")
            [ -z "$first" ] || kill -TERM "$first" 2>/dev/null
            for ((i = 0; i < 300; i++)); do
                kill -0 "$inner" 2>/dev/null || break
                sleep 0.1
            done
            kill -KILL "$inner" 2>/dev/null
            wait "$inner" 2>/dev/null
        fi
        # The namespaces die with their first process: no mount is left.
        if [ "${BRIX_CLUSTER_KEEP:-}" = 1 ]; then
            echo "cluster: files kept in $dir"
        else
            rm -rf "$dir"
        fi
    }
    trap finish EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    # --kill-child: if this shell dies, the namespaces' first process is
    # killed and the kernel ends every process in them.
    BRIX_CLUSTER_DIR=$dir unshare --mount --net --pid --fork --kill-child --propagation private \
        --mount-proc bash "$0" "$@" &
    inner=$!
    wait "$inner"
    rc=$?
    inner=
    exit "$rc"
fi

# --- Inside: this shell is the first process of the namespaces. ----------
dir=$BRIX_CLUSTER_DIR
# What the tools log goes to the run's own files (web servers A and B and
# the daemon have theirs).
export BRIX_LOG_FILE=$dir/log/brix-tools.log
cd "$here" || exit 1
vol=brix
host=127.0.0.2          # the bricks' address: gluster refuses 127.0.0.1
php=(php8.2 -n -d "extension=$here/build/php/brix.so")
client=$here/scripts/cluster-client.php
if [ "$mode" = test ]; then
    procs=2 sales=3 cross=4 downsales=2 kill_after=3
else
    procs=${BRIX_CLUSTER_PROCS:-3} sales=${BRIX_CLUSTER_SALES:-12} cross=${BRIX_CLUSTER_CROSS:-8}
    downsales=${BRIX_CLUSTER_DOWN:-6} kill_after=10
fi

passes=0
failures=0
pass() { echo "PASS cluster: $*"; passes=$((passes + 1)); }
flunk() { echo "FAIL cluster: $*"; failures=$((failures + 1)); }
# A failure that ends the run.
die() {
    flunk "$*"
    exit 1
}
# check NAME COMMAND...: one result line for the check.
check() {
    local name=$1
    shift
    if "$@"; then pass "$name"; else flunk "$name"; fi
}

pids=()                 # workers and the daemon, stopped at the end
cleanup() {
    local p
    {
        for p in "${pids[@]}"; do kill -KILL "$p"; done
        for p in "$dir"/mnt-*; do umount -l "$p"; done
        for p in "$dir"/client-?.pid "$dir"/run/gluster/vols/$vol/*.pid "$dir"/run/gluster/shd/$vol/*.pid \
            "$dir/glusterd.pid"; do
            [ -f "$p" ] && kill -KILL "$(cat "$p")"
        done
        wait
    } 2>/dev/null
    echo "$passes passed, $failures failed, 0 skipped"
}
trap cleanup EXIT
trap 'flunk "interrupted"; exit 130' INT TERM

. "$here/scripts/lib.sh"
# wait_for SECONDS COMMAND...: true once COMMAND succeeds in time.
wait_for() { wait_until "$1" - "${@:2}"; }
g() { timeout 60 gluster --mode=script "$@"; }

# --- Gluster, all of it under $dir. ---------------------------------------
mkdir -p "$dir"/{lib,log,run,conf-a,conf-b,out} "$dir"/brick{1,2,3} "$dir"/mnt-{a,b}
ip link set lo up && ip addr add "$host/8" dev lo 2>/dev/null
mount --bind "$dir/lib" /var/lib/glusterd && mount --bind "$dir/log" /var/log/glusterfs &&
    mount --bind "$dir/run" /run || die "cannot lay glusterd's directories over the scratch directory"
cat >"$dir/glusterd.vol" <<VOL
volume management
    type mgmt/glusterd
    option working-directory /var/lib/glusterd
    option transport-type socket
    option transport.socket.listen-port 24007
    option ping-timeout 0
    option event-threads 1
end-volume
VOL
glusterd -f "$dir/glusterd.vol" -p "$dir/glusterd.pid" || die "glusterd did not start"
wait_for 20 g volume list >/dev/null 2>&1 || die "glusterd does not answer"
g volume create $vol replica 3 "$host:$dir/brick1" "$host:$dir/brick2" "$host:$dir/brick3" force >/dev/null ||
    die "cannot create the volume"
# No client-side cache may answer for a file that another web server has
# changed: every read and write goes to the bricks.  Eager locking off:
# with it, the client that wrote a queue's .index last keeps the
# replication lock on it until its post-operation delay runs out, and the
# other web server's next put waits for that (two mounts ran at a quarter
# of one mount's sales/s).
for opt in performance.write-behind=off performance.flush-behind=off performance.quick-read=off \
    performance.io-cache=off performance.read-ahead=off performance.readdir-ahead=off \
    performance.stat-prefetch=off performance.open-behind=off cluster.eager-lock=off; do
    g volume set $vol "${opt%%=*}" "${opt#*=}" >/dev/null || die "cannot set $opt"
done
g volume start $vol >/dev/null || die "cannot start the volume"

# brick_pid N: process id of brick N, empty when it is down.
brick_pid() {
    g volume status $vol "$host:$dir/brick$1" --xml 2>/dev/null |
        sed -n 's:.*<pid>\([0-9]*\)</pid>.*:\1:p' | grep -v '^-1$\|^$' | head -1
}
bricks_online() { [ -n "$(brick_pid 1)" ] && [ -n "$(brick_pid 2)" ] && [ -n "$(brick_pid 3)" ]; }
wait_for 30 bricks_online || die "the bricks did not come up"
mount_volume() {   # mount_volume a|b
    glusterfs --volfile-server=$host --volfile-id=$vol --attribute-timeout=0 --entry-timeout=0 \
        --negative-timeout=0 --direct-io-mode=enable --pid-file="$dir/client-$1.pid" "$dir/mnt-$1" &&
        wait_for 20 mountpoint -q "$dir/mnt-$1"
}
mount_volume a && mount_volume b || die "cannot mount the volume twice"
pass "glusterd, a replica-3 volume on three bricks, mounted as web servers A and B"

# What the spool needs of the file system, through the two mounts: a
# record lock taken through A holds against B (and goes with its
# process), a hard link made through A is seen through B, fsync works.
shares_locks() {
    python3 - "$dir/mnt-a/probe" "$dir/mnt-b/probe" <<'PY'
import errno, fcntl, os, sys
a, b = sys.argv[1:]
def try_lock(path):
    fd = os.open(path, os.O_RDWR)
    try:
        fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0)
        return True
    except OSError as e:
        if e.errno not in (errno.EAGAIN, errno.EACCES):
            raise
        return False
    finally:
        os.close(fd)
fd = os.open(a, os.O_RDWR | os.O_CREAT, 0o600)
os.write(fd, b"1\n")
os.fsync(fd)
fcntl.lockf(fd, fcntl.LOCK_EX | fcntl.LOCK_NB, 1, 0)
pid = os.fork()
if pid == 0:   # another process, through the other mount
    os._exit(0 if not try_lock(b) else 1)
_, held = os.waitpid(pid, 0)
os.close(fd)   # the lock goes with it
os.link(a, a + ".link")
ok = held == 0 and try_lock(b) and os.stat(b + ".link").st_nlink == 2
os.unlink(a + ".link")
os.unlink(a)
sys.exit(0 if ok else 1)
PY
}
check "record locks held across the mounts, hard links, fsync" shares_locks

# One merchant configuration per web server: the same spool through each
# server's own mount.
mkdir -p "$dir/mnt-a/spool" && chmod 0700 "$dir/mnt-a/spool"
for s in a b; do
    write_config build "$dir/conf-$s/shop.conf" <<CONF || die "cannot write configuration $s"
Uname: $(id -un)
ClearingProtocol: dialdemo
BRIXPath: $dir/mnt-$s/spool
ModemPort: /dev/null
MerchantNo: 000000927996
MerchantName: BRIX CLUSTER SHOP
CONF
done
# on a|b COMMAND...: runs COMMAND as web server A or B does.  A simple
# command: "${on_a[@]}" COMMAND & gives the command's own process id.
on_a=(env "BRIX_CONFIG_DIR=$dir/conf-a" "BRIX_LOG_FILE=$dir/log/brix-a.log")
on_b=(env "BRIX_CONFIG_DIR=$dir/conf-b" "BRIX_LOG_FILE=$dir/log/brix-b.log")
on() {
    local -n env_=on_$1
    shift
    "${env_[@]}" "$@"
}

serve() {
    local served=0
    start_demod "$dir/log/demod.err" "${on_a[@]}" build/brix-demod -c shop -i 0.2 -v || served=$?
    demod=$DEMOD_PID
    pids+=("$demod")
    [ "$served" -eq 0 ] || die "brix-demod did not start on mount A"
}
# queued STATE...: how many transactions web server A counts in the queues.
queued() {
    on a build/brix -c shop count "$@" 2>/dev/null | grep -o '{[0-9]*}' | tr -d '{}' | awk '{s += $1} END {print s + 0}'
}
drained() { [ "$(queued unauth ready)" -eq 0 ]; }
# sold_since N: at least three sales more than N in "ready" and "done".
sold_since() { [ "$(queued ready done)" -ge $(($1 + 3)) ]; }
# stop_demod: once the daemon has worked off what waits.
stop_demod() {
    wait_for 60 drained || flunk "brix-demod did not work off the queues"
    kill -TERM "$demod"
    wait "$demod"
    check "brix-demod served the spool on mount A and stopped cleanly" \
        test $? -eq 0 -a -n "$(grep stopping "$dir/log/demod.err")"
}
serve

# workers NAME JOB...: runs one client per JOB ("a sell A1 20": web
# server, then the client's arguments) at once and waits for all; their
# JSON lines go to out/NAME.json.  False when one did not end well.
workers() {
    local name=$1 job i=0 rc=0 mine=() p
    shift
    for job in "$@"; do
        set -- $job
        local -n env_=on_$1
        shift
        "${env_[@]}" "${php[@]}" "$client" "$@" >"$dir/out/$name.$i" 2>"$dir/out/$name.$i.err" &
        mine+=($!)
        pids+=($!)
        i=$((i + 1))
    done
    echo "${mine[*]}" >"$dir/out/$name.pids"
    for p in "${mine[@]}"; do wait "$p" || rc=1; done
    cat "$dir/out/$name".[0-9]* >"$dir/out/$name.json"
    return $rc
}
# client_jobs SERVER sell PREFIX COUNT | SERVER cross OWN PARTNER COUNT: one
# JOB per process of a web server.
client_jobs() {
    local k
    for ((k = 1; k <= procs; k++)); do
        case $2 in
            sell) echo "$1 sell $3$k $4" ;;
            cross) echo "$1 cross $3$k $4$k $5" ;;
        esac
    done
}
# run_ok RC NAME: every client ended well and every call answered OK.
run_ok() {
    local rc=$1 name=$2
    [ "$rc" -eq 0 ] && [ -z "$(refused "$name")" ] && return 0
    refused "$name" | head -5 | sed 's/^/    /'
    cat "$dir/out/$name".*.err | head -5 | sed 's/^/    /'
    return 1
}
# json WHAT NAME: from the JSON lines of a run, "figures" (sales,
# seconds, sales/s, calls made again after a busy lock, the longest call's
# seconds and words), "refused" (the refusals, one a line) or "first" (the
# first refusal of each client).
json() {
    php8.2 -n -r '
        [, $what, $file] = $argv;
        $t0 = INF; $t1 = 0; $n = $retries = 0; $long = [0, "-"];
        foreach (file($file) as $l) {
            if (!is_array($r = json_decode($l, true))) continue;
            if ($what === "first") { echo $r["failed"][0] ?? "none", "\n"; continue; }
            if ($what === "refused") { foreach ($r["failed"] as $f) echo "$f\n"; continue; }
            $t0 = min($t0, $r["t0"]); $t1 = max($t1, $r["t1"]); $n += count($r["acked"]); $retries += $r["retries"];
            if ($r["longest"][0] > $long[0]) $long = $r["longest"];
        }
        if ($what === "figures") printf("%d %.1f %.2f %d %.2f %s\n", $n, $t1 - $t0, $n / max($t1 - $t0, 1e-9), $retries, ...$long);
    ' "$1" "$dir/out/$2.json"
}
refused() { json refused "$1"; }

# --- Sales: one web server, two, a brick killed, a brick down. -------------
mapfile -t s1 < <(client_jobs a sell SA "$sales")
workers one "${s1[@]}"
check "sales through web server A alone, every call OK" run_ok $? one
mapfile -t s2 < <(client_jobs a sell TA "$sales"; client_jobs b sell TB "$sales")
workers two "${s2[@]}"
check "sales through web servers A and B at once, every call OK" run_ok $? two

# Authorisations asked on one web server and sold on the other, with
# brick 3 killed in the middle; then sales with the brick still down.
mapfile -t s3 < <(client_jobs a cross XA XB "$cross"; client_jobs b cross XB XA "$cross")
workers cross "${s3[@]}" &
crossrun=$!
pids+=("$crossrun")
sleep "$kill_after"
victim=$(brick_pid 3)
[ -n "$victim" ] && kill -KILL "$victim" || flunk "cannot find brick 3 to kill"
wait "$crossrun"
check "authorised on one web server, sold on the other, brick 3 killed mid-run" run_ok $? cross
mapfile -t s4 < <(client_jobs a sell DA "$downsales"; client_jobs b sell DB "$downsales")
workers down "${s4[@]}"
check "sales through A and B with brick 3 down, every call OK" run_ok $? down

# heal SECONDS: brings every brick back; true once the self-heal has
# nothing pending and the mounts that are still wanted ($live) can write
# again (elapsed seconds in $healed).
heal_done() {
    g volume heal $vol info 2>/dev/null |
        awk '/^Number of entries:/ {n++; if ($4 != "0") bad = 1} END {exit !(n == 3 && !bad)}'
}
# The heal is asked for again every 5 s while entries wait: the self-heal
# daemon crawls on its own only every ten minutes, and a request made
# before it has reconnected to a brick that just came back heals nothing.
heal_kicked() {
    heal_done && return 0
    if ((SECONDS - kicked >= 5)); then
        g volume heal $vol >/dev/null 2>&1
        kicked=$SECONDS
    fi
    return 1
}
live="a b"
writable() {
    local m
    for m in $live; do
        { echo probe >"$dir/mnt-$m/probe-$m" && rm "$dir/mnt-$m/probe-$m"; } 2>/dev/null || return 1
    done
}
heal() {
    local start
    start=$(date +%s.%N)
    # glusterd refuses a start while another of its transactions runs: tried again.
    wait_for 60 g volume start $vol force >/dev/null 2>&1 || { echo "    the volume could not be started"; return 1; }
    wait_for 30 bricks_online || { echo "    the bricks did not come back online"; return 1; }
    kicked=$SECONDS
    g volume heal $vol >/dev/null 2>&1
    wait_for "$1" heal_kicked || { echo "    the self-heal did not finish"; return 1; }
    wait_for 30 writable || { echo "    the volume did not become writable"; return 1; }
    healed=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.1f", b - a}')
}
# The daemon works off what waits and stops, so that the bricks can be
# compared; brick 3 comes back and is healed.
stop_demod
heal 300 && heal_secs=$healed
check "brick 3 back, the self-heal done (in ${heal_secs:-?} s)" test -n "${heal_secs:-}"

# --- What must hold afterwards. ---------------------------------------------
# survey a|b FILE: every queue's transactions as web server A or B sees them.
survey() { on "$1" "${php[@]}" "$client" survey >"$2" 2>&1; }
# settled a|b FILE: the survey once the running daemon has worked off what
# waits, so that every sale acknowledged just before has reached "done".
settled() { wait_for 60 drained || echo "    brix-demod did not work off the queues"; survey "$@"; }
# placed SURVEY: every acknowledged invoice exactly once, in the queue its
# amount sends it to, with that amount; an invoice whose making was
# refused (a fault case) at most once; nothing else.
placed() {
    php8.2 -n -r '
        $want = $loose = [];
        foreach (glob($argv[1] . "/out/*.json") as $f)
            foreach (file($f) as $l) {
                if (!is_array($r = json_decode($l, true))) continue;
                foreach ($r["acked"] as $inv => [$amount, $queue]) $want[str_pad($inv, 8, "X")] = "$queue $amount";
                foreach ($r["failed"] as $call) $loose[str_pad(explode(" ", $call)[1], 8, "X")] = true;
            }
        $got = [];
        foreach (file($argv[2]) as $l) {
            if (!preg_match("/^(\w+) (\w+) (\w+) .*amount \{([\d.]+)\}/", $l, $m)) continue;
            if (isset($got[$m[1]]) || $m[2] !== $m[3]) { echo "    $m[1] twice or misplaced: $l"; exit(1); }
            $got[$m[1]] = "$m[2] $m[4]";
        }
        $bad = 0;
        foreach ($want as $i => $w)
            if (($got[$i] ?? "") !== $w && ++$bad) echo "    $i: want $w, found ", $got[$i] ?? "nothing", "\n";
        foreach (array_diff_key($got, $want, $loose) as $i => $g)
            if (++$bad) echo "    $i: never made, found $g\n";
        exit($bad || !$want ? 1 : 0);
    ' "$dir" "$1"
}
sound() { on "$1" build/brix -c shop check >"$dir/out/check-$1" 2>&1 || { sed 's/^/    /' "$dir/out/check-$1"; false; }; }

survey a "$dir/out/survey-a"
survey b "$dir/out/survey-b"
check "both web servers give the same answers, byte for byte" cmp -s "$dir/out/survey-a" "$dir/out/survey-b"
check "every acknowledged invoice in exactly one queue, where its amount sends it" placed "$dir/out/survey-a"
check "brix check finds the spool sound through mount A" sound a
check "brix check finds the spool sound through mount B" sound b
same_bricks() {
    diff -r --exclude=.glusterfs "$dir/brick1" "$dir/brick2" && diff -r --exclude=.glusterfs "$dir/brick1" "$dir/brick3"
}
check "the three bricks hold the same bytes after the heal" same_bricks

# --- Figures. -----------------------------------------------------------------
# floor_rate: the floor's sales/s on this volume (the file-system calls of
# one sale and nothing else, build/bench-floor), for comparison; BRIX_FLOOR
# names another program taking a scratch directory and a number of sales.
# The demonstration also runs the floor without the locks that a read
# checked by the item's key line would not need (bench/README.md), and the
# library's own sale in C++ (build/bench-sale), one process each.
rate_of() {   # rate_of LABEL PROGRAM [ARG...]: one process's sales/s on mount A
    local label=$1 sub line
    shift
    sub=$dir/mnt-a/rate-$((++rate_runs))
    mkdir -p "$sub"
    line=$("$@" "$sub/spool" "${BRIX_FLOOR_SALES:-20}" 2>/dev/null | tail -1)
    printf '   %-40s %s sales/s\n' "$label" "$(sed -n 's/.*sales_per_s=\([0-9.]*\).*/\1/p' <<<"$line")"
}
floor_rate() {
    local floor=${BRIX_FLOOR:-$here/build/bench-floor}
    if [ ! -x "$floor" ]; then
        printf '   %-40s %s\n' "floor" "not measured: $floor is not a program"
        return
    fi
    rate_of "floor, one process (mount A)" "$floor"
    [ "$mode" = demo ] && [ -z "${BRIX_FLOOR:-}" ] || return 0
    rate_of "floor, no look-up locks" "$floor" --locks=no-read
    rate_of "floor, only the needed locks" "$floor" --locks=needed
    [ -x "$here/build/bench-sale" ] &&
        BRIX_LOG_FILE=$dir/log/bench-sale.log rate_of "library in C++, one process" "$here/build/bench-sale"
}
rate_runs=0
echo
echo "== Figures: $procs PHP processes per web server, replica 3 on one machine"
longest=0
retried=0
for run in "one:one web server (mount A)" "two:two web servers (mounts A and B)" \
    "down:two web servers, brick 3 down" "cross:authorised on one, sold on the other"; do
    read -r n t r busy l c < <(json figures "${run%%:*}")
    [ "${run%%:*}" = cross ] ||
        printf '   %-40s %4s sales in %6s s: %6s sales/s\n' "${run#*:}" "$n" "$t" "$r"
    retried=$((retried + busy))
    if awk -v a="$l" -v b="$longest" 'BEGIN {exit !(a > b)}'; then longest=$l longcall=$c; fi
done
printf '   %-40s %s s (%s)\n' "longest call" "$longest" "${longcall:-}"
printf '   %-40s %s\n' "calls made again after a busy lock" "$retried"
printf '   %-40s %s s\n' "brick 3 back to healed" "${heal_secs:-?}"
floor_rate
echo

[ "$mode" = test ] || exit $((failures > 0))

# --- Failure cases. ----------------------------------------------------------
serve

# A session driven one call at a time, logging to log/shell.log: ask
# CALL... prints "ANSWER<tab>TEXT".
shell_open() {   # shell_open a|b
    local -n env_=on_$1
    coproc SHELL { "${env_[@]}" "BRIX_LOG_FILE=$dir/log/shell.log" "${php[@]}" "$client" shell 2>&1; }
    pids+=("$SHELL_PID")
    local line
    read -r -t 60 line <&"${SHELL[0]}" && [ "$line" = "init OK" ]
}
ask() {
    local line
    echo "$*" >&"${SHELL[1]}"
    read -r -t 90 line <&"${SHELL[0]}" || line="no answer"
    printf '%s\n' "$line"
}
shell_close() { exec {SHELL[1]}>&-; wait "$SHELL_PID"; }
logged() { cat "$dir/log/$1.log" 2>/dev/null | wc -l; }

# Quorum lost: two of the three bricks stop while both web servers sell,
# and under a session of web server A.  Every call must fail with its
# failure code and a log line.
quorum_lost() {
    local ok=0 call answer before load
    shell_open a || { echo "    no session"; return 1; }
    workers quorum-load "a sell QS 40" "b sell QT 40" &
    load=$!
    pids+=("$load")
    for call in "bx_new QA001" "bx_add QA001 amount 12.00" "bx_add QA001 cardnum 4111111111111111" \
        "bx_add QA001 expdate 1230" "bx_add QA001 acode 654321"; do
        answer=$(ask "$call")
        [ "${answer%%$'\t'*}" = OK ] || { echo "    before the fault: $call: $answer"; ok=1; }
    done
    wait_for 60 sold_since "$(queued ready done)"
    kill -KILL "$(brick_pid 1)" "$(brick_pid 2)"
    sleep 1
    for call in "bx_sale QA001" "bx_new QA002" "bx_add QA001 zipcode 62701" "bx_status QA001" "bx_count all"; do
        before=$(logged shell)
        answer=$(ask "$call")
        echo "    $call: $answer"
        case ${answer%%$'\t'*} in
            OK | new | none | [0-9]*) ok=1 ;;
        esac
        [ "$(logged shell)" -gt "$before" ] || { echo "    $call: no log line"; ok=1; }
    done
    wait "$load" || { echo "    a PHP process selling through the loss did not end well"; ok=1; }
    json first quorum-load | sed 's/^/    first refusal while selling: /'
    heal 120 || { echo "    the volume did not come back"; ok=1; }
    answer=$(ask "bx_sale QA001")
    echo "    once the volume is back, bx_sale QA001: $answer"
    shell_close
    local acked='"QA001":["12.00","done"]'
    [ "${answer%%$'\t'*}" = OK ] || { acked=; ok=1; }
    echo "{\"acked\":{$acked},\"failed\":[\"bx_sale QA001\",\"bx_new QA002\"],\"longest\":[0,\"\"],\"t0\":0,\"t1\":0}" \
        >"$dir/out/quorum.json"
    return $ok
}
check "quorum lost: every call fails with its failure code and a log line" quorum_lost
settled b "$dir/out/survey-q"
check "quorum back: the invariants hold through mount B" placed "$dir/out/survey-q"
check "quorum back: brix check finds the spool sound through mount B" sound b


# Web server B cut off (its glusterfs client killed) while it sells, and a
# PHP process of A killed at the same time.
cut_off() {
    local before
    before=$(logged brix-b)
    mapfile -t sb < <(client_jobs b sell CB 40)
    workers cut "${sb[@]}" &
    local cutrun=$!
    workers killed "a sell KA 40" 2>/dev/null &
    local killrun=$!
    pids+=("$cutrun" "$killrun")
    # Cut once web server B has sold a few.
    wait_for 60 sold_since "$(queued ready done)"
    kill -KILL "$(cat "$dir/client-b.pid")"
    live=a
    kill -KILL $(cat "$dir/out/killed.pids")
    wait "$cutrun"
    check "web server B cut off: its PHP processes end without crashing" test $? -eq 0
    wait "$killrun"
    json first cut | sed 's/^/    first refusal: /'
    check "web server B cut off: its calls fail, each with a log line" \
        test "$(logged brix-b)" -gt "$before" -a -n "$(refused cut)"
    # The killed process printed nothing: its invoices are all loose.
    printf '{"acked":{},"failed":[%s],"longest":[0,""],"t0":0,"t1":0}\n' \
        "$(seq -f '"bx_new KA%03g"' 1 40 | paste -sd,)" >"$dir/out/killed.json"
}
cut_off
settled a "$dir/out/survey-c"
check "after the cut: the invariants hold through the surviving mount A" placed "$dir/out/survey-c"
check "after the cut: brix check finds the spool sound through mount A" sound a
stop_demod
survey a "$dir/out/survey-z"
check "settled: every acknowledged invoice in its final queue" placed "$dir/out/survey-z"
