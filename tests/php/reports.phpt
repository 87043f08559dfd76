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
show('missing', bx_report($h, 'server') . ' [' . bx_textvalue($h) . ']');
$line = "task {dialing} current {ORDER42X} time {Mon Dec  7 00:05:12 2026}\n";
file_put_contents("$dir/spool-shop.dstat", $line . "task {older} current {none} time {}\n");
show('Server', bx_report($h, 'Server') . ' [' . bx_textvalue($h) . ']');
// Only "server" and "upload" are report types; the answer text is cleared.
show('bogus', bx_report($h, 'bogus') . ' [' . bx_textvalue($h) . ']');
file_put_contents("$dir/spool-shop.ustat", '');
show('empty', bx_report($h, 'upload'));
file_put_contents("$dir/spool-shop.ustat", str_repeat('x', 20000));
show('UPLOAD', bx_report($h, 'UPLOAD') . ' ' . strlen(bx_textvalue($h)));
show('no session', bx_report('0,0,0,0,', 'server'));
bx_done($h);
brix_cleanup($dir);
?>
--EXPECT--
missing = 'unknown []'
Server = 'OK [task {dialing} current {ORDER42X} time {Mon Dec  7 00:05:12 2026}
]'
bogus = 'syntax error []'
empty = 'unknown'
UPLOAD = 'OK 10239'
no session = 'uninitialized'
