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
show('bx_new again', bx_new($h, 'INV1') . ' ' . bx_textvalue($h));
// Argument, status and command names in any case.
show('bx_add AMOUNT', bx_add($h, 'inv1', 'AMOUNT', '12.34'));
show('bx_add CardNum', bx_add($h, 'inv1', 'CardNum', '4111 1111 1111 1111'));
show('bx_add bogus', bx_add($h, 'inv1', 'bogus', 'x') . ' ' . bx_textvalue($h));
show('bx_add nope', bx_add($h, 'nope', 'amount', '1') . ' ' . bx_textvalue($h));
show('bx_status', bx_status($h, 'inv1'));
show('bx_textvalue', preg_replace('/newtime \{[^}]*\}/', 'newtime {...}', bx_textvalue($h)));
show('bx_status nope', bx_status($h, 'nope'));
show('bx_new', bx_new($h, 'inv2'));
show('bx_count ALL', bx_count($h, 'ALL'));
show('bx_textvalue', bx_textvalue($h));
show('bx_count New', bx_count($h, 'New'));
// bx_lookup answers the answer text; its index may be an int or a text.
foreach ([1, '2', 3, 0, PHP_INT_MAX, 4294967297] as $i) {
    show("bx_lookup $i", bx_lookup($h, 'new', $i));
}
show('bx_lookup all', bx_lookup($h, 'all', 1));
show('bx_delete', bx_delete($h, 'inv2') . ' ' . bx_status($h, 'inv2'));
show('bx_delete again', bx_delete($h, 'inv2'));
// The demonstration protocol offers no commands.
show('bx_command Receipt', bx_command($h, 'Receipt', '') . ' ' . bx_textvalue($h));
show('bx_done', bx_done($h));
brix_cleanup($dir);
?>
--EXPECT--
bx_textvalue = 'release {3.3 2000/03/27}'
bx_new = 'OK'
bx_new again = 'duplicate invoice text {invoice already in use}'
bx_add AMOUNT = 'OK'
bx_add CardNum = 'OK'
bx_add bogus = 'syntax error text {unrecognized argument type}'
bx_add nope = 'bad invoice text {no such transaction}'
bx_status = 'new'
bx_textvalue = 'status {new} invoice {INV1XXXX} amount {12.34} newtime {...}'
bx_status nope = 'none'
bx_new = 'OK'
bx_count ALL = 2
bx_textvalue = 'new {2} authorized {0} ready {0} done {0} unauthorized {0} denied {0} review {0} bad {0} '
bx_count New = 2
bx_lookup 1 = 'INV1XXXX'
bx_lookup 2 = 'INV2XXXX'
bx_lookup 3 = 'NONE'
bx_lookup 0 = 'Error: item number must be at least 1'
bx_lookup 9223372036854775807 = 'NONE'
bx_lookup 4294967297 = 'NONE'
bx_lookup all = 'Error: invalid type'
bx_delete = 'OK none'
bx_delete again = 'bad invoice'
bx_command Receipt = 'invalid request text {invalid operation for this protocol}'
bx_done = 'OK'
