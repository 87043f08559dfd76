--TEST--
brix: through brix-demod, a Royal Bank void and receipts, and a rejected UTF batch resent
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'rbank', 'RBank', "MerchantName: BRIX TEST SHOP\nMerchantStreet: 1 MAIN ST\n"
    . "MerchantCity: SPRINGFIELD\nMerchantState: IL\nMerchantZIP: 62701\nDeviceID: 0042\n"
    . "MerchantComment: Thank you\\nCome again\n");
brix_config($dir, 'utf', 'UTF');
$answer = fn(string $h, string $code) => "$code " . bx_textvalue($h);

// Royal Bank: every transaction names its product and customer; a settled
// return may be voided.
$rb = bx_init('rbank');
$who = ['product' => 'Widget', 'accountname' => 'J Smith'];
brix_card($rb, 'RBSALE01', '123.45', $who);
brix_card($rb, 'RBRET001', '3.00', $who);
brix_card($rb, 'RBNONAME', '1.00');
show('bx_auth RBNONAME', $answer($rb, bx_auth($rb, 'RBNONAME')));
show('bx_auth RBSALE01', $answer($rb, bx_auth($rb, 'RBSALE01')));
show('bx_return RBRET001', $answer($rb, bx_return($rb, 'RBRET001')));
show('receipt RBRET001 waiting', $answer($rb, bx_command($rb, 'receipt', 'RBRET001')));
brix_daemon('rbank');
show('bx_sale RBSALE01', $answer($rb, bx_sale($rb, 'RBSALE01')));
show('bx_void RBRET001', $answer($rb, bx_void($rb, 'RBRET001')) . ' ' . bx_status($rb, 'RBRET001'));
brix_daemon('rbank');
foreach (['RBSALE01', 'RBRET001'] as $inv) {
    echo brix_status($rb, $inv), "\n";
}
show('bx_void RBSALE01', $answer($rb, bx_void($rb, 'RBSALE01')));
show('bx_void RBRET001', $answer($rb, bx_void($rb, 'RBRET001')));
foreach (['RBSALE01', 'rbret001'] as $inv) {
    echo preg_replace("/Date\\/Time: \\d+ \\w{3} '\\d\\d, [\\d:]{8}/", 'Date/Time: ...', $answer($rb, bx_command($rb, 'receipt', $inv))), "\n";
}
show('receipt none', $answer($rb, bx_command($rb, 'receipt', '')));
bx_done($rb);

// UTF: an item with .03 cents has its whole batch rejected to "bad"; the
// resend command gives the batch back to the daemon, which settles it.
$utf = bx_init('utf');
brix_card($utf, 'UTFSALE1', '9.03', ['acode' => '123456']);
brix_card($utf, 'UTFRET01', '2.00');
brix_card($utf, 'UTFNEW01', '1.00');
show('bx_sale UTFSALE1', $answer($utf, bx_sale($utf, 'UTFSALE1')));
show('bx_return UTFRET01', $answer($utf, bx_return($utf, 'UTFRET01')));
brix_daemon('utf');
foreach (['UTFSALE1', 'UTFRET01'] as $inv) {
    echo brix_status($utf, $inv), "\n";
}
bx_report($utf, 'upload');
echo brix_untime(bx_textvalue($utf));
preg_match('/batch (\d+) rejected/', bx_textvalue($utf), $m);
foreach (['', 'x', (string) ($m[1] + 1), $m[1], $m[1]] as $batch) {
    show("resend '$batch'", $answer($utf, bx_command($utf, 'resend', $batch)));
}
show('statuses', bx_status($utf, 'UTFSALE1') . ' ' . bx_status($utf, 'UTFRET01') . ' ' . bx_status($utf, 'UTFNEW01'));
brix_daemon('utf');
foreach (['UTFSALE1', 'UTFRET01'] as $inv) {
    echo brix_status($utf, $inv), "\n";
}
bx_report($utf, 'upload');
echo brix_untime(bx_textvalue($utf));
show('resend under Royal Bank', $answer($rb = bx_init('rbank'), bx_command($rb, 'resend', '1')));
bx_done($rb);
bx_done($utf);
brix_cleanup($dir);
?>
--EXPECT--
bx_auth RBNONAME = 'invalid request text {Royal Bank requires the product name for each transaction}'
bx_auth RBSALE01 = 'OK '
bx_return RBRET001 = 'OK '
receipt RBRET001 waiting = 'bad invoice text {bad invoice}'
bx_sale RBSALE01 = 'OK '
bx_void RBRET001 = 'OK  ready'
status {done} invoice {RBSALE01} amount {123.45} newtime {...} authtime {...} readytime {...} donetime {...} acode {576749} accountname {J Smith} product {Widget} result_text {SETTLED} result_iso {00}
status {done} invoice {RBRET001} amount {0.00} newtime {...} readytime {...} donetime {...} acode {199245} accountname {J Smith} product {Widget} result_text {VOIDED} result_iso {00}
bx_void RBSALE01 = 'invalid request text {transaction is not a return}'
bx_void RBRET001 = 'invalid request text {transaction is not a return}'
OK text {ok} status {done} receipt {
BRIX TEST SHOP
1 MAIN ST
SPRINGFIELD, IL 62701    

Thank you
Come again

Purchaser: J Smith
Description: Widget

Type: Pre-Auth Advice

Amount: $ 123.45 CDN
Acct: UNKNOWN
Card Number: ************1111
Expiry Date: 12/30
Date/Time: ...
Reference #: 0042  0010020010 M
Author #: 576749

00  Approved - Thank You  00
}
OK text {ok} status {done} receipt {
BRIX TEST SHOP
1 MAIN ST
SPRINGFIELD, IL 62701    

Thank you
Come again

Purchaser: J Smith
Description: Widget

Type: Refund Correction

Amount: $ 3.00 CDN
Acct: UNKNOWN
Card Number: ************1111
Expiry Date: 12/30
Date/Time: ...
Reference #: 0042  0010020020 M
Author #: 199245

00  Approved - Thank You  00
}
receipt none = 'syntax error text {the receipt command requires an invoice}'
bx_sale UTFSALE1 = 'OK '
bx_return UTFRET01 = 'OK '
status {bad} invoice {UTFSALE1} amount {9.03} newtime {...} readytime {...} acode {123456} result_text {BATCH REJECTED} result_iso {96}
status {bad} invoice {UTFRET01} amount {-2.00} newtime {...} readytime {...} result_text {BATCH REJECTED} result_iso {96}
task {batch 1 rejected: 2 items} current {none} time {...}
resend '' = 'syntax error text {the resend command requires a batch number}'
resend 'x' = 'invalid request text {there are no items in the bad queue with batch number 0}'
resend '2' = 'invalid request text {there are no items in the bad queue with batch number 2}'
resend '1' = 'OK text {batch 1 is ready for re-uploading -- 2 items}'
resend '1' = 'invalid request text {there are no items in the bad queue with batch number 1}'
statuses = 'ready ready new'
status {done} invoice {UTFSALE1} amount {9.03} newtime {...} readytime {...} donetime {...} acode {123456} result_text {SETTLED} result_iso {00}
status {done} invoice {UTFRET01} amount {-2.00} newtime {...} readytime {...} donetime {...} acode {503775} result_text {CREDITED 503775} result_iso {00}
task {batch 2 settled: 2 items} current {none} time {...}
resend under Royal Bank = 'invalid request text {invalid operation for this protocol}'
