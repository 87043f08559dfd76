<?php
// A whole card sale through the brix extension, as a merchant's script
// would run it, against a processing daemon that serves the same spool.
//
//   php8.2 -n -d extension=build/php/brix.so examples/sale.php [SHOP [NASHVILLE]]
//
// SHOP names a configuration of protocol "dialdemo" (default "demo"),
// NASHVILLE one of protocol "Nashville" with a PhoneNumber (default
// "demo-nashville"); bx_init finds both in BRIX_CONFIG_DIR.  The daemon
// (build/brix-demod -c SHOP) must be running; scripts/demo.sh sets all of
// this up on a fresh spool.
//
// The script checks every answer it is given and stops with exit status 1
// at the first one that is not what the step expects.

[$shopname, $nashname] = [$argv[1] ?? 'demo', $argv[2] ?? 'demo-nashville'];
const WAIT_SECONDS = 20;          // longest wait for the daemon
const POLL_SECONDS = 0.2;

$stepno = 0;

function step(string $title): void
{
    global $stepno;
    printf("\n%d. %s\n", ++$stepno, $title);
}

function say(string $label, string $text): void
{
    printf("   %-36s %s\n", $label, $text);
}

function fail(string $why): never
{
    fwrite(STDERR, "sale.php: FAILED: $why\n");
    exit(1);
}

// Shows a call's answer and stops unless it is the expected one.
function expect(string $label, $answer, $want): void
{
    say($label, is_string($answer) ? $answer : var_export($answer, true));
    if ($answer !== $want) {
        fail("$label answered " . var_export($answer, true) . ', expected ' . var_export($want, true));
    }
}

// Stops unless the answer text holds every piece.
function expect_text(string $what, string $text, array $pieces): void
{
    foreach ($pieces as $piece) {
        if (!str_contains($text, $piece)) {
            fail("$what lacks \"$piece\": $text");
        }
    }
}

// One brace word of an answer text: "acode {123456}" gives 123456.
function word(string $text, string $key): string
{
    return preg_match('/(?:^| )' . preg_quote($key, '/') . ' \{([^}]*)\}/', $text, $m) ? $m[1] : '';
}

// Polls the invoice's status until the daemon has moved it out of the
// queues it works from; answers the final status.
function wait_for_daemon(string $h, string $invoice): string
{
    $start = microtime(true);
    do {
        $status = bx_status($h, $invoice);
        if (!in_array($status, ['unauth', 'ready'], true)) {
            say('waited', sprintf('%.1f s', microtime(true) - $start));
            return $status;
        }
        usleep((int) (POLL_SECONDS * 1e6));
    } while (microtime(true) - $start < WAIT_SECONDS);
    fail("$invoice still in '$status' after " . WAIT_SECONDS . ' s: is brix-demod running?');
}

// The status line's results, labelled; answers the whole line.
function show_status(string $h): string
{
    $text = bx_textvalue($h);
    $w = fn(string $key) => word($text, $key);
    say('  invoice', $w('invoice') . ', amount ' . $w('amount'));
    if ($w('result_text') !== '') {
        say('  result', $w('result_text') . ($w('result_iso') !== '' ? ' (ISO ' . $w('result_iso') . ')' : ''));
    }
    if ($w('acode') !== '') {
        say('  acode', $w('acode'));
    }
    if ($w('avs') !== '') {
        say('  AVS', $w('avs') . ($w('avs_addr') !== '' ? ' (address ' . $w('avs_addr') . ', ZIP ' . $w('avs_zip') . ')' : ''));
    }
    if ($w('cvv2') !== '') {
        say('  CVV2', $w('cvv2'));
    }
    return $text;
}

function fill(string $h, string $invoice, array $fields): void
{
    expect("bx_new $invoice", bx_new($h, $invoice), 'OK');
    foreach ($fields as $arg => $value) {
        expect("bx_add $arg $value", bx_add($h, $invoice, $arg, $value), 'OK');
    }
}

if (!extension_loaded('brix')) {
    fail('the brix extension is not loaded (php8.2 -d extension=build/php/brix.so)');
}

step("Open a session on configuration \"$shopname\"");
$h = bx_init($shopname);
if ($h === '0,0,0,0,') {
    fail("bx_init('$shopname') failed; see the system log (BRIX_CONFIG_DIR="
         . (getenv('BRIX_CONFIG_DIR') ?: 'unset') . ')');
}
say('bx_init', "$h  " . bx_textvalue($h));

step('Create invoice ORDER1 and fill in the card');
fill($h, 'order1', ['amount' => '24.95', 'cardnum' => '4111 1111 1111 1111', 'expdate' => '12/29',
                    'address' => '12 Main Street', 'zipcode' => '62701', 'cvv2' => '123']);
expect('bx_status', bx_status($h, 'order1'), 'new');

step('Ask for an authorisation');
expect('bx_auth', bx_auth($h, 'order1'), 'OK');
expect('bx_status', bx_status($h, 'order1'), 'unauth');
say('', 'waiting in "unauth" for the daemon to dial the processor');

step('Wait for the daemon');
expect('bx_status', wait_for_daemon($h, 'order1'), 'auth');
$line = show_status($h);
expect_text('the authorisation', $line, ['result_text {APPROVED ', 'avs {ok} avs_addr {ok} avs_zip {partial}',
                                          'cvv2 {ok}']);
$acode = word($line, 'acode');
if (!preg_match('/^\d{6}$/', $acode)) {
    fail("no authorisation code in: $line");
}

step("Sell the authorised amount (authorisation code $acode)");
expect('bx_sale', bx_sale($h, 'order1'), 'OK');
expect('bx_status', bx_status($h, 'order1'), 'ready');
say('', 'waiting in "ready" for the next batch upload');

step('Wait for the batch upload');
expect('bx_status', wait_for_daemon($h, 'order1'), 'done');
$line = show_status($h);
expect_text('the settled sale', $line, ['acode {' . $acode . '}', 'result_text {SETTLED']);

step('Count the transactions per queue');
expect('bx_count all', bx_count($h, 'all'), 1);
$counts = bx_textvalue($h);
say('bx_textvalue', $counts);
expect_text('the counts', $counts, ['new {0}', 'ready {0}', 'done {1}', 'unauthorized {0}', 'bad {0}']);

step("The daemon's reports");
foreach (['server' => 'task {', 'upload' => 'batch 1'] as $type => $piece) {
    expect("bx_report $type", bx_report($h, $type), 'OK');
    $report = trim(bx_textvalue($h));
    say('  bx_textvalue', $report);
    expect_text("the $type report", $report, [$piece, 'time {']);
}

step('A declined card: amount ending in .01');
fill($h, 'order2', ['amount' => '10.01', 'cardnum' => '5555555555554444', 'expdate' => '0630']);
expect('bx_auth', bx_auth($h, 'order2'), 'OK');
expect('bx_status', wait_for_daemon($h, 'order2'), 'denied');
expect_text('the declined card', show_status($h), ['result_text {DECLINED}']);

step('Requests the library refuses, with their answers');
// A call's return-code text and its answer text on one line.
$answer = fn(string $h, string $code) => "$code: " . bx_textvalue($h);
expect('bx_sale order2', $answer($h, bx_sale($h, 'order2')), 'bad invoice: text {authorization denied}');
expect('bx_void order1', $answer($h, bx_void($h, 'order1')),
       'invalid request: text {invalid operation for this protocol}');
expect('bx_auth order1', $answer($h, bx_auth($h, 'order1')),
       'duplicate invoice: text {not valid for this transaction}');
expect('bx_status nosuch', bx_status($h, 'nosuch'), 'none');
expect('bx_reverse nosuch', $answer($h, bx_reverse($h, 'nosuch')), 'bad invoice: text {no such transaction}');

step("A protocol command: the dial numbers of \"$nashname\" (Nashville)");
$n = bx_init($nashname);
if ($n === '0,0,0,0,') {
    fail("bx_init('$nashname') failed");
}
$shown = $answer($n, bx_command($n, 'phonenum', ''));
say('bx_command phonenum', $shown);
if (!preg_match('/^OK: text \{primary (\d+), secondary \1\}$/', $shown, $m)) {
    fail("phonenum shows no configured number: $shown");
}
foreach ([['5551234,5559876', 'OK: text {set primary to 5551234, secondary to 5559876}'],
          ['', 'OK: text {primary 5551234, secondary 5559876}'],
          ['reset', 'OK: text {reset phone numbers to configured defaults}'],
          ['', "OK: text {primary $m[1], secondary $m[1]}"],
          ['none', 'syntax error: text {invalid phone number -- no digits}']] as [$arg, $want]) {
    expect(rtrim("bx_command phonenum $arg"), $answer($n, bx_command($n, 'phonenum', $arg)), $want);
}

step('Close the sessions');
expect('bx_done', bx_done($n), 'OK');
expect('bx_done', bx_done($h), 'OK');
echo "\nThe sale went through.\n";
