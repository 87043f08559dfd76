// bx_config: the merchant configuration file.
//
// bx_config_init finds "<dir>/<name>.conf" (BRIX_CONFIG_DIR, else the
// directory the host process set with bx_config_set_dir, else /var/brix,
// else /usr/local/etc/brix), checks and descrambles it and
// splits it into name/value pairs; bx_config_get_by_code answers lookups
// by configuration code.  Called by bx_init and the command handlers;
// the brix-config tool writes and reads files through the C++ helpers.
//
// Failure policy: every refusal is logged at Fatal error level and the
// result is null; a file that fails a check is refused whole.  A file that
// cannot be opened gives an empty configuration (every lookup gives null).
// Lookups that find nothing return null without a message.
#ifndef BRIX_SESSION_BX_CONFIG_H
#define BRIX_SESSION_BX_CONFIG_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _bx_config_config_data {
    char **config_names;      // names of the pairs, file order (owned)
    char **config_values;     // values, same index (owned)
    int num_config_items;     // number of pairs
} *bx_config_config_data;

// Configuration codes: the whole vocabulary of bx_config_get_by_code.
enum {
    BX_CFG_MODEMINIT = 1,
    BX_CFG_MODEMDIALSTRING = 2,
    BX_CFG_MODEMHANGUP = 3,
    BX_CFG_PHONENUMBER = 4,
    BX_CFG_USERNAME = 5,
    BX_CFG_BRIXPATH = 6,          // data directory; created (0700) when missing
    BX_CFG_MODEMPORT = 7,
    BX_CFG_MERCHANTNO = 8,
    BX_CFG_DEVICEID = 9,
    BX_CFG_OPERATORID = 10,
    BX_CFG_VERSION = 11,          // not in the file: always "BRIX3.3A"
    BX_CFG_CONFIGCONNECTION = 13,
    BX_CFG_CLEARINGPROTOCOL = 14,
    BX_CFG_BAUDRATE = 15,
    BX_CFG_FORCE = 16,
    BX_CFG_CURRENCY = 17,
    BX_CFG_MERCHANTCOUNTRY = 18,
    BX_CFG_MERCHANTZIP = 19,
    BX_CFG_MERCHANTTIMEZONE = 20,
    BX_CFG_MERCHANTINDUSTRY = 21,
    BX_CFG_UNAME = 22,
    BX_CFG_BANKID = 23,
    BX_CFG_AGENTBANK = 24,
    BX_CFG_AGENTCHAIN = 25,
    BX_CFG_MERCHANTCITY = 26,
    BX_CFG_MERCHANTSTATE = 27,
    BX_CFG_MERCHANTNAME = 28,
    BX_CFG_TRANSACTIONCODE = 29,
    BX_CFG_TAXPAYERID = 30,
    BX_CFG_PHONENUMBERSETTLE = 31,
    BX_CFG_MODEMPORTSETTLE = 32,
    BX_CFG_MERCHANTSTREET = 33,
    BX_CFG_MERCHANTCOMMENT = 34,
    BX_CFG_NETLOGIN = 35,
    BX_CFG_ENTRYCAPABILITIES = 36,
    BX_CFG_TAXEXEMPT = 37,
    BX_CFG_DEMODELAYDIAL = 38,
    BX_CFG_DEMODELAYTRANSACTION = 39,
    BX_CFG_DEMODELAYHANGUP = 40,
    BX_CFG_ISSUERMAGIC = 41,
    BX_CFG_TRANSACTIONTIMEOUT = 42
};

// Finds and loads configuration `name`; null when there is none or it is
// refused (null name, path too long, bad file).
bx_config_config_data bx_config_init(const char *name);

// The configuration directory of the host process (the PHP extension's
// brix.config_dir), searched after BRIX_CONFIG_DIR and before the standard
// directories; null or "" clears it.  Returns 0, or -1 when the text could
// not be kept (no memory), which clears it too.
int bx_config_set_dir(const char *dir);
// Where bx_config_init looks (BX_CONFIG_DIR_* in *source when given).
enum { BX_CONFIG_DIR_STANDARD = 0, BX_CONFIG_DIR_ENVIRONMENT = 1, BX_CONFIG_DIR_HOST = 2 };
// The one directory named by the environment or the host, taken at its
// word; null when only the standard directories are searched.  Valid
// until the next bx_config_set_dir.
const char *bx_config_dir(int *source);
// Standard directory `index` in search order (0, 1), null past the last.
const char *bx_config_standard_dir(int index);
// Fresh copy of the value for `code` (caller frees), or null.
char *bx_config_get_by_code(bx_config_config_data configuration, int code);
// Fresh copy of the first value whose name equals `name` ignoring case.
char *get_value_with_name(const char *name, bx_config_config_data configuration);
void bx_config_destroy_config(bx_config_config_data configuration);

// Reads and checks one scrambled file.  An unopenable file gives an empty
// configuration; a file failing a check gives null.
bx_config_config_data load_config(const char *path);
// Splits one descrambled line (cut at its first line feed) and appends its
// pair.  Returns 0, or -1 when the pair could not be stored (no memory).
int cc_parse_line(const char *line, bx_config_config_data configuration);
// 1 when directory `path` exists or was created with mode 0700, else 0.
int checkdir(const char *path);

#ifdef __cplusplus
}

#include <cstdlib>
#include <string>
#include <string_view>

namespace brix {
// Scrambled file form of a plain configuration text (header + body).
std::string config_scramble(std::string_view plain);
// Outcome of checking a scrambled file's bytes.
enum class ConfigCheck { ok, missing_at, bad_len, bad_sum };
// Checks bytes and, when ok or bad_sum/bad_len, fills plain with the
// descrambled body (so tools can show what is there).  A file that starts
// with "@" but is shorter than its 9-byte header is bad_len, plain empty.
ConfigCheck config_descramble(std::string_view file, std::string &plain);
// Builds a configuration from a plain text by the loader's line rules
// (bytes after the last line feed form no line).  Null when out of memory.
bx_config_config_data config_from_plain(std::string_view plain) noexcept;
// load_config on a file's bytes held in memory: the same checks, the same
// log lines (naming the file `shown`), the same result.
bx_config_config_data config_load(std::string_view file, const char *shown) noexcept;

// One looked-up value, released at the end of its scope; null text when
// the key is absent.
class ConfigValue {
public:
    ConfigValue(bx_config_config_data c, int code) : text(bx_config_get_by_code(c, code)) {}
    ~ConfigValue() { free(text); }
    ConfigValue(const ConfigValue &) = delete;
    ConfigValue &operator=(const ConfigValue &) = delete;
    explicit operator bool() const { return text != nullptr; }
    char *text;
};
}  // namespace brix
#endif

#endif
