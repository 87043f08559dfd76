<?php
// The web servers' side of the cluster run (scripts/cluster.sh): what a
// merchant's scripts on one of several web servers do to the shared
// spool, with every answer checked and every call timed.
//
//   cluster-client.php sell PREFIX COUNT          whole sales
//   cluster-client.php cross OWN PARTNER COUNT    authorise, sell the partner's
//   cluster-client.php survey                     every queue's transactions
//   cluster-client.php shell                      one call per line of input
//
// Every mode opens a session on configuration "shop" (BRIX_CONFIG_DIR
// names the web server's configuration directory).  sell and cross print
// one JSON line: what was acknowledged ("acked": invoice => [amount, final
// queue]), what was refused ("failed": call and answer), the longest call,
// the calls made again after a busy lock, and the start and end times.  A refused call is reported, never fatal:
// the caller decides what the run may refuse.  Exits 2 when bx_init fails.

const CARD = ['cardnum' => '4111111111111111', 'expdate' => '1230', 'zipcode' => '62701'];
const QUEUES = ['new', 'auth', 'ready', 'done', 'unauth', 'denied', 'review', 'bad'];

$mode = $argv[1] ?? '';
$h = bx_init('shop');
if ($h === '0,0,0,0,') {
    fwrite(STDERR, "cluster-client: bx_init('shop') failed\n");
    exit(2);
}

$acked = $failed = [];
$longest = [0.0, ''];
$retries = 0;
const TRIES = 5;

// Runs one library call, timed; answers its answer.  A call that found a
// queue lock busy for too long changed nothing and is made again, as a
// shop would (counted in "retries").
function call(string $fn, ...$args): string
{
    global $h, $longest, $retries;
    for ($try = 1; ; $try++, $retries++) {
        $t = microtime(true);
        $answer = (string) $fn($h, ...$args);
        $t = microtime(true) - $t;
        if ($t > $longest[0]) {
            $longest = [$t, "$fn " . implode(' ', $args)];
        }
        if ($try === TRIES || $answer !== 'unknown' || bx_textvalue($h) !== 'text {unable to lock database}') {
            return $answer;
        }
    }
}

// Runs calls while they answer OK; notes the first refusal.
function all_ok(array $calls): bool
{
    global $h, $failed;
    foreach ($calls as $c) {
        if (($a = call(...$c)) !== 'OK') {
            $failed[] = implode(' ', $c) . " => $a: " . bx_textvalue($h);
            return false;
        }
    }
    return true;
}

function report(float $t0): void
{
    global $acked, $failed, $longest, $retries;
    echo json_encode(['acked' => $acked, 'failed' => $failed, 'longest' => $longest, 'retries' => $retries,
                      't0' => $t0, 't1' => microtime(true)]), "\n";
}

switch ($mode) {
case 'sell':
    // A whole sale with an authorisation code given by telephone, as the
    // web shop makes it: create, five fields, sell (to the batch queue).
    [, , $prefix, $count] = $argv;
    $t0 = microtime(true);
    for ($i = 1; $i <= $count; $i++) {
        $inv = sprintf('%s%03d', $prefix, $i);
        $amount = sprintf('%d.%02d', 10 + $i % 90, 5 * ($i % 20));
        $calls = [['bx_new', $inv], ['bx_add', $inv, 'amount', $amount]];
        foreach (CARD + ['acode' => '654321'] as $field => $value) {
            $calls[] = ['bx_add', $inv, $field, $value];
        }
        $calls[] = ['bx_sale', $inv];
        if (all_ok($calls)) {
            $acked[$inv] = [$amount, 'done'];
        }
    }
    report($t0);
    break;

case 'cross':
    // Authorisations asked here, sold by the partner on the other web
    // server once the daemon has approved them; every fifth is declined.
    [, , $own, $partner, $count] = $argv;
    $t0 = microtime(true);
    $mine = $theirs = [];
    for ($i = 1; $i <= $count; $i++) {
        $inv = sprintf('%s%03d', $own, $i);
        $amount = sprintf('%d.%02d', 20 + $i, $i % 5 ? 0 : 1);
        $calls = [['bx_new', $inv], ['bx_add', $inv, 'amount', $amount]];
        foreach (CARD as $field => $value) {
            $calls[] = ['bx_add', $inv, $field, $value];
        }
        $calls[] = ['bx_auth', $inv];
        if (all_ok($calls)) {
            $acked[$inv] = [$amount, $i % 5 ? 'done' : 'denied'];
        }
        $theirs[sprintf('%s%03d', $partner, $i)] = true;
    }
    // The partner's invoices: sold once approved, until all are settled
    // one way or the other (or the time is up).
    for ($deadline = microtime(true) + 60; $theirs && microtime(true) < $deadline; usleep(100000)) {
        foreach (array_keys($theirs) as $inv) {
            $status = call('bx_status', $inv);
            if ($status === 'auth' && !all_ok([['bx_sale', $inv]])) {
                unset($theirs[$inv]);
            } elseif (!in_array($status, ['none', 'new', 'unauth', 'auth'], true)) {
                unset($theirs[$inv]);
            }
        }
    }
    foreach (array_keys($theirs) as $inv) {
        $failed[] = "$inv never approved";
    }
    report($t0);
    break;

case 'survey':
    // "INVOICE QUEUE status-line" for every transaction of every queue,
    // in queue order; times are as stored, so two web servers must print
    // the same bytes.
    foreach (QUEUES as $queue) {
        for ($i = 1, $n = bx_count($h, $queue); $i <= $n; $i++) {
            $inv = bx_lookup($h, $queue, $i);
            $status = bx_status($h, $inv);
            echo "$inv $queue $status ", bx_textvalue($h), "\n";
        }
    }
    bx_count($h, 'all');
    echo 'counts ', bx_textvalue($h), "\n";
    break;

case 'shell':
    // One call per input line, "bx_NAME ARG...", answered with
    // "ANSWER<tab>TEXT" at once: the fault cases drive a session through
    // a volume that fails under it.
    echo "init OK\n";
    while (($line = fgets(STDIN)) !== false) {
        $words = preg_split('/\s+/', trim($line), -1, PREG_SPLIT_NO_EMPTY);
        if (!$words) {
            continue;
        }
        $fn = array_shift($words);
        if (str_starts_with($fn, 'bx_') && function_exists($fn)) {
            $answer = $fn($h, ...$words);
            echo $answer, "\t", bx_textvalue($h), "\n";
        } else {
            echo "no such call\t$fn\n";
        }
    }
    break;

default:
    fwrite(STDERR, "usage: cluster-client.php sell|cross|survey|shell ...\n");
    exit(1);
}
bx_done($h);
