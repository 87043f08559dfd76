# Shell pieces that the demonstration, the web stack and the cluster run
# share; sourced, never run.  Each function says what it returns; none
# exits the shell that sources it.

# wait_until SECONDS PID COMMAND...: true once COMMAND succeeds; false when
# the time runs out or process PID has ended ("-": no process to watch).
wait_until() {
    local seconds=$1 pid=$2 i
    shift 2
    for ((i = 0; i < seconds * 20; i++)); do
        "$@" && return 0
        [ "$pid" = - ] || kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.05
    done
    return 1
}

# write_config BUILD_DIR FILE: encodes the plain configuration read from
# standard input into FILE with brix-config (no plain copy is left on disk).
write_config() {
    "$1/brix-config" encode -o "$2"
}

# demo_config USER SPOOL: the plain configuration of the demonstration
# shop (protocol dialdemo), its data in SPOOL, for write_config.
demo_config() {
    cat <<CONF
Uname: $1
ClearingProtocol: dialdemo
BRIXPath: $2
ModemPort: /dev/null
MerchantNo: 000000927996
MerchantName: BRIX DEMO SHOP
MerchantCity: SPRINGFIELD
MerchantState: IL
MerchantZIP: 62701
CONF
}

# start_demod LOG COMMAND...: starts brix-demod (COMMAND, environment
# included) in the background with its standard error in LOG; DEMOD_PID
# is its process.  True once it serves its configuration (20 seconds at
# most), false when it ended or did not get there.
start_demod() {
    local log=$1
    shift
    "$@" </dev/null >/dev/null 2>"$log" &
    DEMOD_PID=$!
    wait_until 20 "$DEMOD_PID" grep -qs 'serving configuration' "$log"
}
