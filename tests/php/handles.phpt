--TEST--
brix: no session, failed, forged and closed handles answer as no session
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();

// A configuration that does not exist: the handle of no session.
$none = bx_init('missing');
show('bx_init(missing)', $none);

// Every function with the handle of no session.
function all_calls(string $h): void
{
    show('  bx_new', bx_new($h, 'A1'));
    show('  bx_add', bx_add($h, 'A1', 'amount', '1.00'));
    show('  bx_delete', bx_delete($h, 'A1'));
    show('  bx_auth', bx_auth($h, 'A1'));
    show('  bx_return', bx_return($h, 'A1'));
    show('  bx_reverse', bx_reverse($h, 'A1'));
    show('  bx_sale', bx_sale($h, 'A1'));
    show('  bx_void', bx_void($h, 'A1'));
    show('  bx_status', bx_status($h, 'A1'));
    show('  bx_count', bx_count($h, 'all'));
    show('  bx_lookup', bx_lookup($h, 'new', 1));
    show('  bx_report', bx_report($h, 'server'));
    show('  bx_command', bx_command($h, 'receipt', ''));
    show('  bx_textvalue', bx_textvalue($h));
    show('  bx_done', bx_done($h));
}
echo "no session:\n";
all_calls($none);

// Texts that name no open session: nothing is open yet, so not even 1.
echo "forged:\n";
foreach (['1,0,0,0,', '192,161,4,8,', '192,161,4,8', '1,0,0', '', 'abc', ',,,,', '-1,0,0,0,',
          '4294967295', '255,255,255,255,'] as $h) {
    show("  bx_textvalue('$h')", bx_textvalue($h));
    show("  bx_new('$h')", bx_new($h, 'A1'));
}
show('  bx_count(7)', bx_count(7, 'all'));

// An open session and the texts that name it.
brix_config($dir, 'shop');
$h = bx_init('shop');
var_dump(preg_match('/^(\d{1,3},){4}$/', $h) === 1, $h !== '0,0,0,0,');
show('bx_textvalue', bx_textvalue($h));
$bytes = array_map('intval', explode(',', $h));
// Blanks before a number, bytes above 255 (only the low 8 bits count) and
// text behind the fourth comma still name it.
$alias = ' ' . ($bytes[0] + 256) . ', ' . $bytes[1] . ',' . $bytes[2] . ',' . $bytes[3] . ',tail';
show('by alias', bx_textvalue($alias));
// Without the last comma it names nothing.
show('no last comma', bx_textvalue(rtrim($h, ',')));

// A closed handle names nothing, and the next session gets a new handle.
show('bx_done', bx_done($h));
show('closed: bx_textvalue', bx_textvalue($h));
show('closed: bx_new', bx_new($h, 'A1'));
show('closed: bx_count', bx_count($h, 'all'));
show('closed: bx_done', bx_done($h));
$h2 = bx_init('shop');
var_dump($h2 !== $h, $h2 !== '0,0,0,0,');
show('closed: bx_textvalue', bx_textvalue($h));
// Two open sessions keep their own answers.
$h3 = bx_init('shop');
show('bx_new(h2)', bx_new($h2, 'B1'));
show('bx_textvalue(h3)', bx_textvalue($h3));
show('bx_status(h3)', bx_status($h3, 'B1'));
show('bx_done(h2)', bx_done($h2));
show('bx_done(h3)', bx_done($h3));
brix_cleanup($dir);
?>
--EXPECT--
bx_init(missing) = '0,0,0,0,'
no session:
  bx_new = 'uninitialized'
  bx_add = 'uninitialized'
  bx_delete = 'uninitialized'
  bx_auth = 'uninitialized'
  bx_return = 'uninitialized'
  bx_reverse = 'uninitialized'
  bx_sale = 'uninitialized'
  bx_void = 'uninitialized'
  bx_status = 'unknown'
  bx_count = -7
  bx_lookup = ''
  bx_report = 'uninitialized'
  bx_command = 'uninitialized'
  bx_textvalue = ''
  bx_done = 'OK'
forged:
  bx_textvalue('1,0,0,0,') = ''
  bx_new('1,0,0,0,') = 'uninitialized'
  bx_textvalue('192,161,4,8,') = ''
  bx_new('192,161,4,8,') = 'uninitialized'
  bx_textvalue('192,161,4,8') = ''
  bx_new('192,161,4,8') = 'uninitialized'
  bx_textvalue('1,0,0') = ''
  bx_new('1,0,0') = 'uninitialized'
  bx_textvalue('') = ''
  bx_new('') = 'uninitialized'
  bx_textvalue('abc') = ''
  bx_new('abc') = 'uninitialized'
  bx_textvalue(',,,,') = ''
  bx_new(',,,,') = 'uninitialized'
  bx_textvalue('-1,0,0,0,') = ''
  bx_new('-1,0,0,0,') = 'uninitialized'
  bx_textvalue('4294967295') = ''
  bx_new('4294967295') = 'uninitialized'
  bx_textvalue('255,255,255,255,') = ''
  bx_new('255,255,255,255,') = 'uninitialized'
  bx_count(7) = -7
bool(true)
bool(true)
bx_textvalue = 'release {3.3 2000/03/27}'
by alias = 'release {3.3 2000/03/27}'
no last comma = ''
bx_done = 'OK'
closed: bx_textvalue = ''
closed: bx_new = 'uninitialized'
closed: bx_count = -7
closed: bx_done = 'OK'
bool(true)
bool(true)
closed: bx_textvalue = ''
bx_new(h2) = 'OK'
bx_textvalue(h3) = 'release {3.3 2000/03/27}'
bx_status(h3) = 'new'
bx_done(h2) = 'OK'
bx_done(h3) = 'OK'
