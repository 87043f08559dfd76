<?php
// The operator's view: every queue with its transactions, newest first,
// card numbers masked (only the last four digits the checkout kept are
// shown).
require __DIR__ . '/shop.inc';

const QUEUES = ['new', 'unauth', 'auth', 'ready', 'done', 'denied', 'review', 'bad'];
const SHOWN_PER_QUEUE = 100;

$h = open_session();
page_start('Transactions by queue');
foreach (QUEUES as $queue) {
    $count = bx_count($h, $queue);
    echo '<h2>', h($queue), ' <small>(', h((string) $count), ')</small></h2>';
    if ($count <= 0) {
        continue;
    }
    echo '<table id="queue-', h($queue), '"><tr><th>Invoice</th><th>Amount</th><th>Card</th>',
         '<th>Code</th><th>Answer</th></tr>';
    for ($i = $count; $i > max(0, $count - SHOWN_PER_QUEUE); $i--) {
        $invoice = bx_lookup($h, $queue, $i);
        if (bx_status($h, $invoice) !== $queue) {
            continue;    // moved on meanwhile
        }
        $line = bx_textvalue($h);
        echo '<tr>';
        foreach ([$invoice, word($line, 'amount'), masked_card(word($line, 'comment')), word($line, 'acode'),
                  word($line, 'result_text')] as $cell) {
            echo '<td>', h($cell), '</td>';
        }
        echo '</tr>';
    }
    echo '</table>';
    if ($count > SHOWN_PER_QUEUE) {
        echo '<p class="hint">', h((string) ($count - SHOWN_PER_QUEUE)), ' older ones not shown.</p>';
    }
}
bx_done($h);
page_end();
