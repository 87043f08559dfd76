<?php
// The checkout: a card payment form, sent to pay.php.
require __DIR__ . '/shop.inc';

page_start('Checkout');
$fields = [
    ['amount', 'Amount (USD)', '24.95', 'decimal'],
    ['cardnum', 'Card number', '', 'numeric'],
    ['expdate', 'Expiry (MM/YY)', '', 'numeric'],
    ['cvv2', 'CVV2', '', 'numeric'],
    ['zipcode', 'ZIP code', '', 'numeric'],
];
echo '<form method="post" action="pay.php" id="checkout">';
foreach ($fields as [$name, $label, $value, $mode]) {
    echo '<label for="', h($name), '">', h($label), '</label>',
         '<input id="', h($name), '" name="', h($name), '" value="', h($value), '" inputmode="', h($mode),
         '" autocomplete="off" required>';
}
echo '<div><button type="submit" id="pay">Pay</button></div></form>',
     '<p class="hint">Demonstration processor: an amount ending in .01 is declined.</p>';
page_end();
