--TEST--
brix: a whole card sale, from bx_init to the invoice waiting in "ready"
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop', 'demo');
$h = bx_init('shop');
show('bx_new', bx_new($h, 'order42'));
show('bx_add amount', bx_add($h, 'order42', 'amount', '19.99'));
show('bx_add cardnum', bx_add($h, 'order42', 'cardnum', '4111111111111111'));
show('bx_add expdate', bx_add($h, 'order42', 'expdate', '1229'));
show('bx_sale', bx_sale($h, 'order42') . ' [' . bx_textvalue($h) . ']');
show('bx_status', bx_status($h, 'order42'));
show('bx_lookup', bx_lookup($h, 'ready', 1));
// A second sale is refused while it waits for the upload.
show('bx_sale again', bx_sale($h, 'order42') . ' ' . bx_textvalue($h));
show('bx_done', bx_done($h));
brix_cleanup($dir);
?>
--EXPECT--
bx_new = 'OK'
bx_add amount = 'OK'
bx_add cardnum = 'OK'
bx_add expdate = 'OK'
bx_sale = 'OK []'
bx_status = 'ready'
bx_lookup = 'ORDER42X'
bx_sale again = 'duplicate invoice text {invoice already pending upload}'
bx_done = 'OK'
