--TEST--
brix: a session creates, fills, counts, walks and deletes transactions
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');
$h = bx_init('shop');
show('bx_textvalue', bx_textvalue($h));

show('bx_new', bx_new($h, 'inv1'));
show('bx_new again', bx_new($h, 'INV1'));
show('bx_textvalue', bx_textvalue($h));
// Argument names in any case.
show('bx_add AMOUNT', bx_add($h, 'inv1', 'AMOUNT', '12.34'));
show('bx_add CardNum', bx_add($h, 'inv1', 'CardNum', '4111 1111 1111 1111'));
show('bx_add expdate', bx_add($h, 'inv1', 'expdate', '12/29'));
show('bx_add bogus', bx_add($h, 'inv1', 'bogus', 'x'));
show('bx_textvalue', bx_textvalue($h));
show('bx_add unknown invoice', bx_add($h, 'nope', 'amount', '1'));
show('bx_textvalue', bx_textvalue($h));
show('bx_status', bx_status($h, 'inv1'));
show('bx_textvalue', preg_replace('/newtime \{[^}]*\}/', 'newtime {...}', bx_textvalue($h)));
show('bx_status unknown', bx_status($h, 'nope'));

show('bx_new', bx_new($h, 'inv2'));
// Status names in any case; bx_count answers an int.
show('bx_count all', bx_count($h, 'ALL'));
show('bx_textvalue', bx_textvalue($h));
show('bx_count New', bx_count($h, 'New'));
show('bx_count bogus', bx_count($h, 'bogus'));
// bx_lookup answers the answer text; its index may be an int or a text.
show('bx_lookup 1', bx_lookup($h, 'new', 1));
show('bx_lookup "2"', bx_lookup($h, 'NEW', '2'));
show('bx_lookup 3', bx_lookup($h, 'new', 3));
show('bx_lookup 0', bx_lookup($h, 'new', 0));
show('bx_lookup huge', bx_lookup($h, 'new', PHP_INT_MAX));
show('bx_lookup all', bx_lookup($h, 'all', 1));

show('bx_delete', bx_delete($h, 'inv2'));
show('bx_status', bx_status($h, 'inv2'));
show('bx_delete again', bx_delete($h, 'inv2'));

// The demonstration protocol offers no commands.
show('bx_command Receipt', bx_command($h, 'Receipt', ''));
show('bx_textvalue', bx_textvalue($h));
show('bx_command bogus', bx_command($h, 'bogus', 'x'));

show('bx_done', bx_done($h));
brix_cleanup($dir);
?>
--EXPECT--
bx_textvalue = 'release {3.3 2000/03/27}'
bx_new = 'OK'
bx_new again = 'duplicate invoice'
bx_textvalue = 'text {invoice already in use}'
bx_add AMOUNT = 'OK'
bx_add CardNum = 'OK'
bx_add expdate = 'OK'
bx_add bogus = 'syntax error'
bx_textvalue = 'text {unrecognized argument type}'
bx_add unknown invoice = 'bad invoice'
bx_textvalue = 'text {no such transaction}'
bx_status = 'new'
bx_textvalue = 'status {new} invoice {INV1XXXX} amount {12.34} newtime {...}'
bx_status unknown = 'none'
bx_new = 'OK'
bx_count all = 2
bx_textvalue = 'new {2} authorized {0} ready {0} done {0} unauthorized {0} denied {0} review {0} bad {0} '
bx_count New = 2
bx_count bogus = 0
bx_lookup 1 = 'INV1XXXX'
bx_lookup "2" = 'INV2XXXX'
bx_lookup 3 = 'NONE'
bx_lookup 0 = 'Error: item number must be at least 1'
bx_lookup huge = 'NONE'
bx_lookup all = 'Error: invalid type'
bx_delete = 'OK'
bx_status = 'none'
bx_delete again = 'bad invoice'
bx_command Receipt = 'invalid request'
bx_textvalue = 'text {invalid operation for this protocol}'
bx_command bogus = 'invalid request'
bx_done = 'OK'
