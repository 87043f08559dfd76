--TEST--
brix: wrong argument counts, argument conversion and refused arguments
--EXTENSIONS--
brix
--FILE--
<?php
// Every function with one argument too few and one too many.
$counts = ['bx_init' => 1, 'bx_done' => 1, 'bx_new' => 2, 'bx_add' => 4, 'bx_delete' => 2,
           'bx_auth' => 2, 'bx_return' => 2, 'bx_reverse' => 2, 'bx_sale' => 2, 'bx_void' => 2,
           'bx_status' => 2, 'bx_count' => 2, 'bx_lookup' => 3, 'bx_report' => 2,
           'bx_command' => 3, 'bx_textvalue' => 1];
foreach ($counts as $name => $n) {
    foreach ([$n - 1, $n + 1] as $given) {
        try {
            $name(...array_fill(0, $given, '0,0,0,0,'));
            echo "$name with $given arguments: no error\n";
        } catch (ArgumentCountError $e) {
            if ($e->getMessage() !== "Wrong parameter count for $name()") {
                echo "$name: ", $e->getMessage(), "\n";
            }
        }
    }
}
try {
    bx_sale('0,0,0,0,');
} catch (ArgumentCountError $e) {
    echo get_class($e), ': ', $e->getMessage(), "\n";
}

// Integers, floats, booleans and null are passed as PHP converts them;
// bx_count answers an int.
var_dump(bx_count('0,0,0,0,', 'ALL'), bx_new(0, 1.5), bx_status(null, true), bx_done(false));

// Arrays, objects without a text form and NUL bytes are refused.
foreach ([[['0,0,0,0,'], 'x'], ['0,0,0,0,', new stdClass()], ["0,0,0,0,", "A\0B"]] as $args) {
    try {
        bx_new(...$args);
        echo "accepted\n";
    } catch (Throwable $e) {
        echo get_class($e), ': ', $e->getMessage(), "\n";
    }
}
echo "done\n";
?>
--EXPECT--
ArgumentCountError: Wrong parameter count for bx_sale()
int(-7)
string(13) "uninitialized"
string(7) "unknown"
string(2) "OK"
TypeError: bx_new(): Argument #1 must be of type string|int, array given
Error: Object of class stdClass could not be converted to string
ValueError: bx_new(): Argument #2 must not contain any null bytes
done
