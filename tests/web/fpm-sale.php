<?php
// Endpoint of the php-fpm test (fpm_test.py): one sale per request (with
// an authorisation code given by telephone, so it goes straight to the
// batch queue "ready"), with
// what the worker looked like when the request began.  With leave=1 the
// request leaves its session open and notes the handle for the next
// request of the same worker, which must find that it names no session.
preg_match('/^Uid:\s+\d+\s+(\d+)/m', file_get_contents('/proc/self/status'), $uid);
$start = ['pid' => getmypid(), 'euid' => (int) $uid[1]];
$note = dirname(__DIR__) . '/state/' . getmypid();
$start['leaked'] = is_file($note) ? bx_textvalue(file_get_contents($note)) !== '' : null;

$invoice = (string) ($_GET['invoice'] ?? '');
$h = bx_init('shop');
$answers = ['new' => bx_new($h, $invoice)];
foreach (['amount' => $_GET['amount'] ?? '', 'cardnum' => '4111 1111 1111 1111', 'expdate' => '12/29',
          'acode' => '654321'] as $field => $value) {
    $answers[$field] = bx_add($h, $invoice, $field, $value);
}
$answers['sale'] = bx_sale($h, $invoice);
$status = bx_status($h, $invoice);
$line = bx_textvalue($h);
if (($_GET['leave'] ?? '') === '1') {
    file_put_contents($note, $h);
} else {
    bx_done($h);
    is_file($note) && unlink($note);
}
header('Content-Type: application/json');
echo json_encode($start + ['answers' => $answers, 'status' => $status, 'line' => $line]);
