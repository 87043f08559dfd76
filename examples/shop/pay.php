<?php
// Takes the checkout form: creates the transaction, asks for an
// authorisation, waits for the processing daemon's answer and, when the
// card is approved, sells the authorised amount; then sends the browser
// to result.php for the invoice.  A field or request the library refuses
// ends on a page that says which and why, and the half-made transaction
// is deleted.
require __DIR__ . '/shop.inc';

if ($_SERVER['REQUEST_METHOD'] !== 'POST') {
    header('Location: index.php', true, 303);
    exit;
}
$labels = ['amount' => 'Amount', 'cardnum' => 'Card number', 'expdate' => 'Expiry', 'cvv2' => 'CVV2',
           'zipcode' => 'ZIP code'];
$form = [];
foreach ($labels as $field => $label) {
    $form[$field] = trim((string) ($_POST[$field] ?? ''));
}

function refuse(string $h, string $invoice, string $what, string $answer): never
{
    $text = bx_textvalue($h);
    if (bx_status($h, $invoice) === 'new') {
        bx_delete($h, $invoice);
    }
    bx_done($h);
    http_response_code(422);
    page_start('Payment refused');
    // The answer text says why ("text {could not set amount}"), else the code.
    echo '<p class="bad" id="outcome">Refused</p><p>', h($what), ': ', h(word($text, 'text') ?: $answer), '</p>',
         '<p><a href="index.php">Back to the checkout</a></p>';
    page_end();
    exit;
}

$h = open_session();
// A fresh invoice: W and seven hexadecimal digits.
for ($try = 0; $try < 5; $try++) {
    $invoice = 'W' . strtoupper(substr(bin2hex(random_bytes(4)), 0, 7));
    if (($answer = bx_new($h, $invoice)) !== 'duplicate invoice') {
        break;
    }
}
if ($answer !== 'OK') {
    refuse($h, $invoice, 'The transaction', $answer);
}
// The shop keeps no card number: the comment holds its last four digits.
$last4 = substr(preg_replace('/\D/', '', $form['cardnum']), -4);
foreach ($form + ['comment' => "card ending $last4"] as $field => $value) {
    if (($answer = bx_add($h, $invoice, $field, $value)) !== 'OK') {
        refuse($h, $invoice, $labels[$field] ?? $field, $answer);
    }
}
if (($answer = bx_auth($h, $invoice)) !== 'OK') {
    refuse($h, $invoice, 'The authorisation', $answer);
}
// The daemon moves the transaction from "unauth" to "auth" or "denied".
$deadline = microtime(true) + SHOP_WAIT_SECONDS;
while (($status = bx_status($h, $invoice)) === 'unauth' && microtime(true) < $deadline) {
    usleep(100000);
}
if ($status === 'auth' && ($answer = bx_sale($h, $invoice)) !== 'OK') {
    refuse($h, $invoice, 'The sale', $answer);
}
bx_done($h);
header('Location: result.php?invoice=' . rawurlencode($invoice), true, 303);
