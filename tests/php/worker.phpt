--TEST--
brix: a worker serving many requests closes the sessions each request left open
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');
// The worker loads the module file this PHP loaded.
preg_match('#\s(/\S*/brix\.so)$#m', file_get_contents('/proc/self/maps'), $module);

// Each request opens a session, leaves it open and tells its descriptors,
// its effective user and what the previous request's handle names now.
file_put_contents("$dir/router.php", <<<'PHP'
<?php
$earlier = bx_textvalue($_GET['h'] ?? '');
$h = bx_init('shop');
bx_new($h, 'W' . ($_GET['n'] ?? ''));
preg_match('/^Uid:\s+\d+\s+(\d+)/m', file_get_contents('/proc/self/status'), $uid);
echo json_encode(['handle' => $h, 'fds' => count(scandir('/proc/self/fd')), 'euid' => $uid[1],
                  'earlier' => $earlier]);
PHP);
$probe = stream_socket_server('tcp://127.0.0.1:0');
$port = (int) substr(strrchr(stream_socket_get_name($probe, false), ':'), 1);
fclose($probe);
$null = ['file', '/dev/null', 'a'];
$worker = proc_open([PHP_BINARY, '-n', '-d', "extension=$module[1]", '-S', "127.0.0.1:$port", "$dir/router.php"],
                    [$null, $null, $null], $pipes, $dir, ['BRIX_CONFIG_DIR' => "$dir/conf"] + getenv());
for ($i = 0; $i < 100 && !($s = @fsockopen('127.0.0.1', $port)); $i++) {
    usleep(100000);
}
$s && fclose($s);
preg_match('/^Uid:\s+\d+\s+(\d+)/m', file_get_contents('/proc/' . proc_get_status($worker)['pid'] . '/status'), $uid);

$answers = [];
for ($n = 1, $previous = ''; $n <= 6; $n++) {
    $answers[] = $a = json_decode(file_get_contents("http://127.0.0.1:$port/?n=$n&h=" . urlencode($previous)), true);
    $previous = $a['handle'];
}
proc_terminate($worker);
proc_close($worker);
$handles = array_column($answers, 'handle');
var_dump(count(array_unique($handles)) === 6 && !in_array('0,0,0,0,', $handles, true),
         count(array_unique(array_slice(array_column($answers, 'fds'), 1))) === 1,
         array_unique(array_column($answers, 'euid')) === [$uid[1]],
         array_unique(array_column($answers, 'earlier')) === ['']);
brix_cleanup($dir);
?>
--EXPECT--
bool(true)
bool(true)
bool(true)
bool(true)
