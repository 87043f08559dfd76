--TEST--
brix: the sixteen functions are registered in order, variadic, by any case
--EXTENSIONS--
brix
--FILE--
<?php
var_dump(extension_loaded('brix'), phpversion('brix'));
echo implode(' ', get_extension_funcs('brix')), "\n";
foreach (get_extension_funcs('brix') as $name) {
    $f = new ReflectionFunction($name);
    if ($f->getExtensionName() !== 'brix' || !$f->isVariadic() || $f->getNumberOfRequiredParameters() !== 0) {
        echo "$name: not a variadic function of brix\n";
    }
}
// Function names are PHP's: any case reaches the same function.
var_dump(BX_TEXTVALUE('0,0,0,0,'), Bx_Init('') === '0,0,0,0,', function_exists('BX_DONE'));
echo "done\n";
?>
--EXPECT--
bool(true)
string(3) "3.3"
bx_init bx_done bx_new bx_add bx_delete bx_auth bx_return bx_reverse bx_sale bx_void bx_status bx_count bx_lookup bx_report bx_command bx_textvalue
string(0) ""
bool(true)
bool(true)
done
