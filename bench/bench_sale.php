<?php
// bench_sale.php: bench-sale's whole card sale (bx_new, five bx_add,
// bx_sale) through the PHP extension, as a shop's script makes it: one
// session, one sale to warm up, then N timed sales under new invoices.
// bench/run.sh runs it against bench-sale on the same kind of spool.
//
// Usage: BRIX_CONFIG_DIR=DIR php8.2 -n -d extension=build/php/brix.so \
//            bench/bench_sale.php CONFIG N
// where DIR holds CONFIG.conf (`bench-sale -c DIR SPOOL_DIR 0` writes
// "bench").  Output, one line:
//   php sales=N seconds=T sales_per_s=R cpu_us_per_sale=P user_us_per_sale=U
//       sys_us_per_sale=Y
// Any answer but OK stops the script with exit status 1.

[$config, $sales] = [$argv[1] ?? '', (int) ($argv[2] ?? 0)];
if ($config === '' || $sales < 1) {
    fwrite(STDERR, "usage: bench_sale.php CONFIG N\n");
    exit(2);
}
$h = bx_init($config);
if ($h === '0,0,0,0,') {
    fwrite(STDERR, "bench_sale.php: bx_init($config) failed\n");
    exit(1);
}

// Invoices: three characters of the run, "P", four of the sale's number
// (base 36), as bench-sale makes its own.
$tag = strtoupper(str_pad(base_convert((string) random_int(0, 36 ** 3 - 1), 10, 36), 3, '0', STR_PAD_LEFT));
$fields = ['amount' => '12.34', 'cardnum' => '4111111111111111', 'expdate' => '1230',
           'address' => '123 Main Street', 'zipcode' => '12345'];

function sell(string $h, string $invoice, array $fields): void
{
    $answers = [bx_new($h, $invoice)];
    foreach ($fields as $field => $value) {
        $answers[] = bx_add($h, $invoice, $field, $value);
    }
    $answers[] = bx_sale($h, $invoice);
    if (array_unique($answers) !== ['OK']) {
        fwrite(STDERR, "bench_sale.php: $invoice: " . json_encode($answers) . ' ' . bx_textvalue($h) . "\n");
        exit(1);
    }
}

$invoice = fn(int $n) => $tag . 'P' . strtoupper(str_pad(base_convert((string) $n, 10, 36), 4, '0', STR_PAD_LEFT));
sell($h, $invoice(0), $fields);
$cpu = function (): array {
    $r = getrusage();
    return [$r['ru_utime.tv_sec'] + $r['ru_utime.tv_usec'] / 1e6, $r['ru_stime.tv_sec'] + $r['ru_stime.tv_usec'] / 1e6];
};
[$u0, $s0] = $cpu();
$t0 = hrtime(true);
for ($n = 1; $n <= $sales; $n++) {
    sell($h, $invoice($n), $fields);
}
$secs = (hrtime(true) - $t0) / 1e9;
[$u1, $s1] = $cpu();
bx_done($h);
printf("php sales=%d seconds=%.4f sales_per_s=%.1f cpu_us_per_sale=%.1f user_us_per_sale=%.1f sys_us_per_sale=%.1f\n",
       $sales, $secs, $sales / $secs, 1e6 * ($u1 + $s1 - $u0 - $s0) / $sales, 1e6 * ($u1 - $u0) / $sales,
       1e6 * ($s1 - $s0) / $sales);
