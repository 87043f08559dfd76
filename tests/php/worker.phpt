--TEST--
brix: a worker serving many requests closes the sessions each request left open
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');

// The module file this PHP loaded, for the worker to load as well.
$module = null;
foreach (file('/proc/self/maps') as $line) {
    if (preg_match('#\s(/\S*/brix\.so)$#', rtrim($line), $m)) {
        $module = $m[1];
    }
}
var_dump($module !== null);

// Each request opens a session and leaves it open; it reports its
// descriptors, its effective user and what an earlier request's handle
// names now.
file_put_contents("$dir/router.php", <<<'PHP'
<?php
$earlier = bx_textvalue($_GET['h'] ?? '');
$h = bx_init('shop');
bx_new($h, 'W' . ($_GET['n'] ?? ''));
preg_match('/^Uid:\s+\d+\s+(\d+)/m', file_get_contents('/proc/self/status'), $uid);
echo json_encode(['handle' => $h, 'fds' => count(scandir('/proc/self/fd')) - 2,
                  'euid' => (int) $uid[1], 'earlier' => $earlier]);
PHP);

$probe = stream_socket_server('tcp://127.0.0.1:0');
$port = (int) substr(strrchr(stream_socket_get_name($probe, false), ':'), 1);
fclose($probe);

$env = getenv();
$env['BRIX_CONFIG_DIR'] = "$dir/conf";
$worker = proc_open([PHP_BINARY, '-n', '-d', "extension=$module", '-S', "127.0.0.1:$port", "$dir/router.php"],
                    [0 => ['file', '/dev/null', 'r'], 1 => ['file', '/dev/null', 'w'], 2 => ['file', '/dev/null', 'w']],
                    $pipes, $dir, $env);
for ($i = 0; $i < 100 && !($s = @fsockopen('127.0.0.1', $port)); $i++) {
    usleep(100000);
}
if ($s) {
    fclose($s);
}
$status = proc_get_status($worker);
$worker_euid = null;
if (preg_match('/^Uid:\s+\d+\s+(\d+)/m', (string) @file_get_contents("/proc/{$status['pid']}/status"), $uid)) {
    $worker_euid = (int) $uid[1];
}

$answers = [];
$previous = '';
for ($n = 1; $n <= 6; $n++) {
    $body = file_get_contents("http://127.0.0.1:$port/?n=$n&h=" . urlencode($previous));
    $answers[] = $a = json_decode((string) $body, true);
    $previous = $a['handle'] ?? '';
}
proc_terminate($worker);
proc_close($worker);

$handles = array_column($answers, 'handle');
$fds = array_column($answers, 'fds');
echo 'requests answered: ', count(array_filter($answers)), "\n";
echo 'every request got its own handle: ', var_export(count(array_unique($handles)) === 6 && !in_array('0,0,0,0,', $handles, true), true), "\n";
echo 'descriptors steady: ', var_export(count(array_unique(array_slice($fds, 1))) === 1, true), "\n";
echo 'effective user of the worker kept: ', var_export(array_unique(array_column($answers, 'euid')) === [$worker_euid], true), "\n";
echo 'earlier handles name nothing: ', var_export(array_unique(array_column($answers, 'earlier')) === [''], true), "\n";
brix_cleanup($dir);
?>
--EXPECT--
bool(true)
requests answered: 6
every request got its own handle: true
descriptors steady: true
effective user of the worker kept: true
earlier handles name nothing: true
