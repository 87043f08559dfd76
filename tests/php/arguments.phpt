--TEST--
brix: registration, wrong argument counts, argument conversion and refusal
--EXTENSIONS--
brix
--FILE--
<?php
// Registered in table order, with fixed parameters; PHP finds them in any case.
$counts = ['bx_init' => 1, 'bx_done' => 1, 'bx_new' => 2, 'bx_add' => 4, 'bx_delete' => 2,
           'bx_auth' => 2, 'bx_return' => 2, 'bx_reverse' => 2, 'bx_sale' => 2, 'bx_void' => 2,
           'bx_status' => 2, 'bx_count' => 2, 'bx_lookup' => 3, 'bx_report' => 2,
           'bx_command' => 3, 'bx_textvalue' => 1];
var_dump(get_extension_funcs('brix') === array_keys($counts), phpversion('brix'));
var_dump(BX_TEXTVALUE('0,0,0,0,'), (new ReflectionFunction('bx_add'))->isVariadic());

// One argument too few or too many: ArgumentCountError, nothing called.
foreach ($counts as $name => $n) {
    foreach ([$n - 1, $n + 1] as $given) {
        try {
            $name(...array_fill(0, $given, '0,0,0,0,'));
            echo "$name with $given arguments: no error\n";
        } catch (ArgumentCountError $e) {
            $want = "$name() expects exactly $n argument" . ($n > 1 ? 's' : '') . ", $given given";
            echo $e->getMessage() === $want ? '' : $e->getMessage() . "\n";
        }
    }
}
try {
    bx_sale('0,0,0,0,');
} catch (ArgumentCountError $e) {
    echo get_class($e), ': ', $e->getMessage(), "\n";
}

// Integers, floats, booleans and null pass as PHP converts them (null with
// PHP's deprecation notice); arrays, objects without a text form and NUL
// bytes are refused.
var_dump(bx_count('0,0,0,0,', 'ALL'), bx_new(0, 1.5), bx_status(null, true), bx_done(false));
foreach ([[['0,0,0,0,'], 'x'], ['0,0,0,0,', new stdClass()], ['0,0,0,0,', "A\0B"]] as $args) {
    try {
        bx_new(...$args);
    } catch (Throwable $e) {
        echo get_class($e), ': ', $e->getMessage(), "\n";
    }
}
?>
--EXPECTF--
bool(true)
string(3) "3.3"
string(0) ""
bool(false)
ArgumentCountError: bx_sale() expects exactly 2 arguments, 1 given

Deprecated: bx_status(): Passing null to parameter #1 ($handle) of type string is deprecated in %s on line %d
int(-7)
string(13) "uninitialized"
string(7) "unknown"
string(2) "OK"
TypeError: bx_new(): Argument #1 ($handle) must be of type string, array given
TypeError: bx_new(): Argument #2 ($invoice) must be of type string|int, stdClass given
ValueError: bx_new(): Argument #2 ($invoice) must not contain any null bytes
