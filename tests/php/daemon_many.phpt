--TEST--
brix: several PHP processes and a polling brix-demod on one spool lose and duplicate nothing
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');
$build = brix_build_dir();
[$children, $each] = [6, 20];

// Each child creates, fills and authorises its invoices, then sells each
// one as soon as the daemon has authorised it; every fifth is declined.
file_put_contents("$dir/child.php", <<<'PHP'
<?php
[, $k, $each] = $argv;
$h = bx_init('shop');
$left = [];
for ($i = 1; $i <= $each; $i++) {
    $inv = sprintf('P%dN%03d', $k, $i);
    $answers = [bx_new($h, $inv), bx_add($h, $inv, 'amount', $i . ($i % 5 ? '.00' : '.01')),
                bx_add($h, $inv, 'cardnum', '4111111111111111'), bx_add($h, $inv, 'expdate', '1230'),
                bx_auth($h, $inv)];
    array_unique($answers) === ['OK'] or exit("$inv: " . implode(', ', $answers) . "\n");
    $left[$inv] = true;
}
$got = ['sold' => 0, 'denied' => 0];
for ($deadline = microtime(true) + 15; $left && microtime(true) < $deadline; usleep(20000)) {
    foreach (array_keys($left) as $inv) {
        $status = bx_status($h, $inv);
        if ($status === 'auth') {
            ($a = bx_sale($h, $inv)) === 'OK' or exit("$inv: sale $a " . bx_textvalue($h) . "\n");
            $status = 'sold';
        }
        if ($status !== 'unauth') {
            isset($got[$status]) or exit("$inv: $status\n");
            $got[$status]++;
            unset($left[$inv]);
        }
    }
}
echo json_encode($got + ['left' => count($left)]);
PHP);

$err = fn(string $name) => ['file', "$dir/$name.err", 'w'];
$daemon = proc_open([$build . '/brix-demod', '-c', 'shop', '-i', '0.05', '-v'],
                    [['file', '/dev/null', 'r'], ['file', '/dev/null', 'w'], $err('daemon')], $unused);
$procs = $out = [];
for ($k = 1; $k <= $children; $k++) {
    $procs[$k] = proc_open([PHP_BINARY, '-n', '-d', "extension=$build/php/brix.so", "$dir/child.php", $k, $each],
                           [['file', '/dev/null', 'r'], ['pipe', 'w'], $err("child$k")], $pipes[$k]);
}
foreach ($procs as $k => $p) {
    $out[$k] = stream_get_contents($pipes[$k][1]);
    fclose($pipes[$k][1]);
    $code = proc_close($p);
    $code === 0 or print("child $k exited with $code: $out[$k] " . file_get_contents("$dir/child$k.err") . "\n");
}
$sums = ['sold' => 0, 'denied' => 0, 'left' => 0];
foreach ($out as $o) {
    foreach ((array) json_decode($o, true) as $key => $n) {
        $sums[$key] += $n;
    }
}
echo json_encode($sums), "\n";

// The daemon drains the batch queue, then is stopped.
$h = bx_init('shop');
for ($deadline = microtime(true) + 10; bx_count($h, 'ready') + bx_count($h, 'unauth') > 0 && microtime(true) < $deadline;) {
    usleep(50000);
}
proc_terminate($daemon);
while (($st = proc_get_status($daemon))['running']) {
    usleep(10000);
}
proc_close($daemon);
$log = file_get_contents("$dir/daemon.err");
echo 'daemon: exit ', $st['exitcode'], preg_match('/Warning|error/', $log) ? ", logged:\n$log" : ', nothing but information logged', "\n";

// Every invoice in exactly one queue, where its amount sent it.
bx_count($h, 'all');
echo bx_textvalue($h), "\n";
$found = [];
foreach (['new', 'auth', 'ready', 'done', 'unauth', 'denied', 'review', 'bad'] as $queue) {
    for ($i = 1, $n = bx_count($h, $queue); $i <= $n; $i++) {
        $found[] = bx_lookup($h, $queue, $i) . " $queue";
    }
}
$expected = [];
for ($k = 1; $k <= $children; $k++) {
    for ($i = 1; $i <= $each; $i++) {
        $expected[] = sprintf('P%dN%03dXX', $k, $i) . ($i % 5 ? ' done' : ' denied');
    }
}
sort($found);
sort($expected);
var_dump($found === $expected);
exec(escapeshellarg("$build/brix") . ' -c shop check 2>&1', $check, $rc);
echo "brix check: exit $rc\n";
bx_done($h);
brix_cleanup($dir);
?>
--EXPECT--
{"sold":96,"denied":24,"left":0}
daemon: exit 0, nothing but information logged
new {0} authorized {0} ready {0} done {96} unauthorized {0} denied {24} review {0} bad {0} 
bool(true)
brix check: exit 0
