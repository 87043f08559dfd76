--TEST--
brix: every request through brix-demod to its final queue, with the status the merchant sees
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();
brix_config($dir, 'shop');
$h = bx_init('shop');
show('server report before any run', bx_report($h, 'server'));

// The daemon's answer follows the cents (.01 declined, .02 referred), the
// AVS fields given (ZIP 9999c answers c) and the CVV2 value (900 fails).
$orders = [
    'APPROVE1' => ['12.00', ['address' => '12 Main St', 'zipcode' => '62701', 'cvv2' => '123'], 'bx_auth'],
    'APPROVE2' => ['3.00', ['address' => '12 Main St', 'zipcode' => '62701-0001', 'cvv2' => 'notprinted'], 'bx_auth'],
    'APPROVE3' => ['4.00', ['zipcode' => '9999r', 'cvv2' => '900'], 'bx_auth'],
    'DECLINE1' => ['5.01', ['zipcode' => '62701'], 'bx_auth'],
    'REFER001' => ['7.02', [], 'bx_auth'],
    'REVERSE1' => ['8.00', [], 'bx_auth'],
    'SALE0001' => ['20.00', [], 'bx_sale'],
    'RETURN01' => ['5.00', [], 'bx_return'],
];
foreach ($orders as $inv => [$amount, $fields, $request]) {
    brix_card($h, $inv, $amount, $fields);
    show("$request $inv", $request($h, $inv) . ' ' . bx_status($h, $inv));
}
brix_daemon('shop');
foreach (array_keys($orders) as $inv) {
    echo brix_status($h, $inv), "\n";
}

// What a merchant asks next: the requests the new states allow, and the
// ones they refuse with their answers.
foreach ([['bx_sale', 'APPROVE1'], ['bx_sale', 'REFER001'], ['bx_reverse', 'REVERSE1'], ['bx_sale', 'DECLINE1'],
          ['bx_reverse', 'DECLINE1'], ['bx_auth', 'APPROVE2'], ['bx_return', 'APPROVE2'], ['bx_void', 'APPROVE2'],
          ['bx_sale', 'SALE0001'], ['bx_void', 'SALE0001'], ['bx_sale', 'REVERSE1'], ['bx_delete', 'DECLINE1']]
         as [$request, $inv]) {
    show("$request $inv", $request($h, $inv) . ' [' . bx_textvalue($h) . '] ' . bx_status($h, $inv));
}
brix_daemon('shop');
foreach (['APPROVE1', 'REFER001', 'REVERSE1'] as $inv) {
    echo brix_status($h, $inv), "\n";
}
show('bx_sale REVERSE1', bx_sale($h, 'REVERSE1') . ' [' . bx_textvalue($h) . ']');
show('bx_count all', bx_count($h, 'all') . ' ' . bx_textvalue($h));
foreach (['server', 'upload'] as $type) {
    show("bx_report $type", bx_report($h, $type) . ' ' . brix_untime(bx_textvalue($h)));
}
bx_done($h);
brix_cleanup($dir);
?>
--EXPECT--
server report before any run = 'unknown'
bx_auth APPROVE1 = 'OK unauth'
bx_auth APPROVE2 = 'OK unauth'
bx_auth APPROVE3 = 'OK unauth'
bx_auth DECLINE1 = 'OK unauth'
bx_auth REFER001 = 'OK unauth'
bx_auth REVERSE1 = 'OK unauth'
bx_sale SALE0001 = 'OK ready'
bx_return RETURN01 = 'OK ready'
status {auth} invoice {APPROVE1} amount {12.00} newtime {...} authtime {...} acode {287423} avs {ok} avs_addr {ok} avs_zip {partial} cvv2 {ok} result_text {APPROVED 287423} result_iso {00}
status {auth} invoice {APPROVE2} amount {3.00} newtime {...} authtime {...} acode {220568} avs {ok} avs_addr {ok} avs_zip {ok} cvv2 {should be on card} result_text {APPROVED 220568} result_iso {00}
status {auth} invoice {APPROVE3} amount {4.00} newtime {...} authtime {...} acode {254494} avs {reenter} cvv2 {fail} result_text {APPROVED 254494} result_iso {00}
status {denied} invoice {DECLINE1} amount {5.01} newtime {...} avs {fail} avs_addr {fail} avs_zip {partial} result_text {DECLINED} result_iso {05}
status {review} invoice {REFER001} amount {7.02} newtime {...} result_text {CALL CENTER} result_iso {01}
status {auth} invoice {REVERSE1} amount {8.00} newtime {...} authtime {...} acode {774279} result_text {APPROVED 774279} result_iso {00}
status {done} invoice {SALE0001} amount {20.00} newtime {...} readytime {...} donetime {...} acode {622932} result_text {SETTLED 622932} result_iso {00}
status {done} invoice {RETURN01} amount {-5.00} newtime {...} readytime {...} donetime {...} acode {107142} result_text {CREDITED 107142} result_iso {00}
bx_sale APPROVE1 = 'OK [] ready'
bx_sale REFER001 = 'OK [] ready'
bx_reverse REVERSE1 = 'OK [] unauth'
bx_sale DECLINE1 = 'bad invoice [text {authorization denied}] denied'
bx_reverse DECLINE1 = 'bad invoice [text {authorization denied}] denied'
bx_auth APPROVE2 = 'duplicate invoice [text {not valid for this transaction}] auth'
bx_return APPROVE2 = 'bad invoice [text {invalid operation for that transaction}] auth'
bx_void APPROVE2 = 'unknown [text {not in voidable state}] auth'
bx_sale SALE0001 = 'bad invoice [text {already processed}] done'
bx_void SALE0001 = 'invalid request [text {invalid operation for this protocol}] done'
bx_sale REVERSE1 = 'bad invoice [text {awaiting authorization}] unauth'
bx_delete DECLINE1 = 'OK [] none'
status {done} invoice {APPROVE1} amount {12.00} newtime {...} authtime {...} readytime {...} donetime {...} acode {287423} avs {ok} avs_addr {ok} avs_zip {partial} cvv2 {ok} result_text {SETTLED} result_iso {00}
status {done} invoice {REFER001} amount {7.02} newtime {...} readytime {...} donetime {...} acode {103158} result_text {SETTLED 103158} result_iso {00}
status {done} invoice {REVERSE1} amount {0.00} newtime {...} authtime {...} readytime {...} donetime {...} acode {774279} result_text {REVERSED} result_iso {00}
bx_sale REVERSE1 = 'bad invoice [text {already processed}]'
bx_count all = '7 new {0} authorized {2} ready {0} done {5} unauthorized {0} denied {0} review {0} bad {0} '
bx_report server = 'OK task {stopped} current {none} time {...}
'
bx_report upload = 'OK task {batch 2 settled: 2 items} current {none} time {...}
'
