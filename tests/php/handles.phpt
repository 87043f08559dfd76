--TEST--
brix: failed, forged, closed and open handles
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();

// Every function but bx_init with one handle, answers on one line.
function answers(string $h): string
{
    return implode(' ', array_map(fn($a) => var_export($a, true), [
        bx_new($h, 'A1'), bx_add($h, 'A1', 'amount', '1'), bx_delete($h, 'A1'), bx_auth($h, 'A1'),
        bx_return($h, 'A1'), bx_reverse($h, 'A1'), bx_sale($h, 'A1'), bx_void($h, 'A1'),
        bx_status($h, 'A1'), bx_count($h, 'all'), bx_lookup($h, 'new', 1), bx_report($h, 'server'),
        bx_command($h, 'receipt', ''), bx_textvalue($h), bx_done($h)]));
}
$none = @bx_init('missing');  // warns why: see config_dir.phpt
echo "failed bx_init: $none\n", $nothing = answers($none), "\n";
// Nothing is open yet: no text names a session, not even 1,0,0,0,.
foreach (['1,0,0,0,', '192,161,4,8,', '192,161,4,8', '1,0,0', '', 'abc', ',,,,', '-1,0,0,0,',
          '255,255,255,255,'] as $h) {
    echo answers($h) === $nothing ? '' : "'$h' names a session\n";
}

brix_config($dir, 'shop');
$h = bx_init('shop');
$b = array_map('intval', explode(',', $h));
echo preg_match('/^(\d{1,3},){4}$/', $h) && $h !== $none ? "handle ok\n" : "handle $h\n";
// Blanks, a byte 256 higher and text behind the last comma name the same
// session; without the last comma the text names none.
show('alias', bx_textvalue(" " . ($b[0] + 256) . ", $b[1],$b[2],$b[3],tail"));
show('no last comma', bx_textvalue(rtrim($h, ',')));

// A closed handle names nothing, also after another session opened.
show('bx_done', bx_done($h));
echo answers($h) === $nothing ? "closed handle: no session\n" : "closed handle names a session\n";
$h2 = bx_init('shop');
$h3 = bx_init('shop');
echo count(array_unique([$h, $h2, $h3])) === 3 ? "new handles\n" : "a handle came back\n";
show('closed bx_textvalue', bx_textvalue($h));
// Two open sessions keep their own answers.
show('bx_new(h2)', bx_new($h2, 'B1'));
show('bx_textvalue(h3)', bx_textvalue($h3));
show('bx_status(h3)', bx_status($h3, 'B1'));
bx_done($h2);
bx_done($h3);
brix_cleanup($dir);
?>
--EXPECT--
failed bx_init: 0,0,0,0,
'uninitialized' 'uninitialized' 'uninitialized' 'uninitialized' 'uninitialized' 'uninitialized' 'uninitialized' 'uninitialized' 'unknown' -7 '' 'uninitialized' 'uninitialized' '' 'OK'
handle ok
alias = 'release {3.3 2000/03/27}'
no last comma = ''
bx_done = 'OK'
closed handle: no session
new handles
closed bx_textvalue = ''
bx_new(h2) = 'OK'
bx_textvalue(h3) = 'release {3.3 2000/03/27}'
bx_status(h3) = 'new'
