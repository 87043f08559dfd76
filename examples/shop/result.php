<?php
// The result of a checkout: the processor's answer and where the
// transaction stands now (its queue).  Reloading shows the latest.
require __DIR__ . '/shop.inc';

// Per queue: outcome shown, its style, and what the queue means.
const OUTCOMES = [
    'auth' => ['Approved', 'good', 'authorised; the sale follows'],
    'ready' => ['Approved', 'good', 'sold; waits for the next batch upload'],
    'done' => ['Approved', 'good', 'sold and settled'],
    'unauth' => ['Pending', 'hint', "waits for the processor's answer; reload this page"],
    'denied' => ['Declined', 'bad', 'the card issuer declined the authorisation'],
    'review' => ['Held for review', 'bad', 'set aside by the processing daemon'],
    'bad' => ['Failed', 'bad', 'the batch could not be completed'],
    'new' => ['Not submitted', 'bad', 'created but never sent for authorisation'],
];

$invoice = (string) ($_GET['invoice'] ?? '');
$h = open_session();
$status = bx_status($h, $invoice);
$line = bx_textvalue($h);
bx_done($h);

[$outcome, $style, $meaning] = OUTCOMES[$status] ?? ['Unknown invoice', 'bad', 'no queue holds it'];
if (!isset(OUTCOMES[$status])) {
    http_response_code(404);
}
page_start('Payment result');
echo '<p class="', h($style), '" id="outcome">', h($outcome), '</p><table>';
$rows = [
    'Invoice' => word($line, 'invoice') ?: $invoice,
    'Amount' => word($line, 'amount') !== '' ? word($line, 'amount') . ' USD' : '',
    'Card' => masked_card(word($line, 'comment')),
    'Authorisation code' => word($line, 'acode'),
    "Processor's answer" => word($line, 'result_text'),
];
foreach ($rows as $label => $value) {
    if ($value !== '') {
        echo '<tr><th>', h($label), '</th><td>', h($value), '</td></tr>';
    }
}
echo '<tr><th>Status</th><td><span id="status">', h($status), '</span>: ', h($meaning), '</td></tr></table>';
page_end();
