--TEST--
brix: every function as php/brix.stub.php declares it; named arguments and strict mode
--EXTENSIONS--
brix
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
// The stub is the source of the arginfo and what IDEs read: each of its
// declarations, with a doc comment, against what PHP reports.
$stub = file_get_contents(__DIR__ . '/brix.stub.php') or die("no stub beside the test\n");
preg_match_all('~\*/\nfunction ((\w+)\(.*\): \w+) \{\}$~m', $stub, $m);
$declared = array_combine($m[2], $m[1]);
$shown = [];
foreach (get_extension_funcs('brix') as $name) {
    $f = new ReflectionFunction($name);
    $params = array_map(fn($p) => ($p->isOptional() || $p->isVariadic() ? '?' : '') . $p->getType() . ' $' . $p->getName(),
                        $f->getParameters());
    $shown[$name] = "$name(" . implode(', ', $params) . '): ' . $f->getReturnType();
}
echo count($declared), ' declared, ', count($shown), " registered\n";
foreach (array_unique(array_merge(array_keys($declared), array_keys($shown))) as $name) {
    if (($declared[$name] ?? '') !== ($shown[$name] ?? '')) {
        echo 'stub:    ', $declared[$name] ?? '(none)', "\nphp:     ", $shown[$name] ?? '(none)', "\n";
    }
}

// Named arguments, in any order.
$dir = brix_setup();
brix_config($dir, 'shop');
$h = bx_init(configuration: 'shop');
show('bx_new', bx_new(invoice: 'n1', handle: $h));
show('bx_add', bx_add($h, 'n1', value: 1234, field: 'amount'));
show('bx_lookup', bx_lookup($h, index: '1', status: 'new'));
try {
    bx_status($h, invoice: 'n1', queue: 'new');
} catch (Error $e) {
    echo get_class($e), ': ', $e->getMessage(), "\n";
}

// A file in strict mode gets exactly the declared types.
file_put_contents("$dir/strict.php", <<<'PHP'
<?php
declare(strict_types=1);
show('bx_count', bx_count($h, 'new'));
show('bx_lookup', bx_lookup($h, 'new', 1));
foreach ([fn() => bx_new($h, 1.5), fn() => bx_init(5), fn() => bx_add($h, 'n1', 'amount', true)] as $call) {
    try {
        $call();
    } catch (TypeError $e) {
        echo $e->getMessage(), "\n";
    }
}
PHP);
include "$dir/strict.php";
bx_done($h);
brix_cleanup($dir);
?>
--EXPECT--
16 declared, 16 registered
bx_new = 'OK'
bx_add = 'OK'
bx_lookup = 'N1XXXXXX'
Error: Unknown named parameter $queue
bx_count = 1
bx_lookup = 'N1XXXXXX'
bx_new(): Argument #2 ($invoice) must be of type string|int, float given
bx_init(): Argument #1 ($configuration) must be of type string, int given
bx_add(): Argument #4 ($value) must be of type string|int, bool given
