--TEST--
brix: bx_report reads the daemon's server and upload reports beside the data directory
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');
$h = bx_init('shop');
$server = "$dir/spool-shop.dstat";
$upload = "$dir/spool-shop.ustat";

// No report written yet.
show('missing', bx_report($h, 'server'));
show('bx_textvalue', bx_textvalue($h));

$line = "task {dialing} current {ORDER42X} time {Mon Dec  7 00:05:12 2026}\n";
file_put_contents($server, $line . "task {older} current {none} time {}\n");
show('Server', bx_report($h, 'Server'));
show('bx_textvalue', bx_textvalue($h));
// Only "server" and "upload" are report types; the answer text is cleared.
show('bogus', bx_report($h, 'bogus'));
show('bx_textvalue', bx_textvalue($h));
show('debug', bx_report($h, 'debug'));

// The upload report: empty, then a line without its line feed.
file_put_contents($upload, '');
show('empty upload', bx_report($h, 'upload'));
file_put_contents($upload, 'task {upload} current {none} time {now}');
show('UPLOAD', bx_report($h, 'UPLOAD'));
show('bx_textvalue', bx_textvalue($h));

// A line longer than the answer text is cut to 10239 characters.
file_put_contents($upload, str_repeat('x', 20000) . "\n");
show('long', bx_report($h, 'upload'));
show('length', strlen(bx_textvalue($h)));

// A report that cannot be read.
unlink($server);
mkdir($server);
show('unreadable', bx_report($h, 'server'));
show('bx_textvalue', bx_textvalue($h));

show('no session', bx_report('0,0,0,0,', 'server'));
bx_done($h);
brix_cleanup($dir);
?>
--EXPECT--
missing = 'unknown'
bx_textvalue = ''
Server = 'OK'
bx_textvalue = 'task {dialing} current {ORDER42X} time {Mon Dec  7 00:05:12 2026}
'
bogus = 'syntax error'
bx_textvalue = ''
debug = 'syntax error'
empty upload = 'unknown'
UPLOAD = 'OK'
bx_textvalue = 'task {upload} current {none} time {now}'
long = 'OK'
length = 10239
unreadable = 'unknown'
bx_textvalue = ''
no session = 'uninitialized'
