--TEST--
brix: brix.config_dir stands behind BRIX_CONFIG_DIR, the info page shows the directory in use, a failed bx_init warns why
--EXTENSIONS--
brix
--INI--
brix.config_dir={PWD}/config-dir-ini
--FILE--
<?php
require __DIR__ . '/brix_test.inc';
$dir = brix_setup();                  // BRIX_CONFIG_DIR names $dir/conf
$ini = __DIR__ . '/config-dir-ini';
is_dir($ini) || mkdir($ini);
brix_config($dir, 'shop');              // made in $dir/conf, moved to where the ini names
rename("$dir/conf/shop.conf", "$ini/shop.conf");
file_put_contents("$ini/bad.conf", "not scrambled\n");
$hide = fn(string $text) => str_replace([$dir, $ini], ['DIR', 'INI'], $text);
set_error_handler(function (int $no, string $text) use ($hide) {
    echo $no === E_WARNING ? 'warning: ' : "error $no: ", $hide($text), "\n";
    return true;
});
function info(): array
{
    ob_start();
    (new ReflectionExtension('brix'))->info();
    preg_match_all('/^(version|configuration directory.*) => (.*)$/m', ob_get_clean(), $m);
    return array_combine($m[1], $m[2]);
}

// System level only: a script cannot move it.
var_dump(ini_get('brix.config_dir') === $ini, ini_set('brix.config_dir', $dir));
echo $hide(json_encode(info(), JSON_UNESCAPED_SLASHES)), "\n";
$h = bx_init('shop');
echo "with BRIX_CONFIG_DIR: $h\n";

putenv('BRIX_CONFIG_DIR');
echo $hide(json_encode(info(), JSON_UNESCAPED_SLASHES)), "\n";
$h = bx_init('shop');
echo 'from brix.config_dir: ', $h === '0,0,0,0,' ? 'no session' : 'session', ', ', bx_new($h, 'c1'), "\n";
$bad = bx_init('bad');
echo "a refused file: $bad\n";
echo 'later calls warn no more: ', bx_status($h, 'c1'), "\n";
bx_done($h);
brix_cleanup($dir);
brix_cleanup($ini);
?>
--EXPECT--
bool(true)
bool(false)
{"version":"3.3","configuration directory":"DIR/conf (BRIX_CONFIG_DIR)","configuration directory readable":"yes"}
warning: bx_init(): Could not locate configuration file in DIR/conf/shop.conf; Unable to read BRIX user from config file.
with BRIX_CONFIG_DIR: 0,0,0,0,
{"version":"3.3","configuration directory":"INI (brix.config_dir)","configuration directory readable":"yes"}
from brix.config_dir: session, OK
warning: bx_init(): Missing @ in config file; Bad configuration file at INI/bad.conf; Unable to read in configuration 'bad'
a refused file: 0,0,0,0,
later calls warn no more: new
