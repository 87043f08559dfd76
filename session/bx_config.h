// bx_config: the merchant configuration file.
//
// bx_config_init finds "<dir>/<name>.conf" (BRIX_CONFIG_DIR, else
// /var/brix, else /usr/local/etc/brix), checks and descrambles it and
// splits it into name/value pairs; bx_config_get_by_code answers lookups
// by configuration code.  Called by bx_init and the command handlers.
//
// Failure policy: every refusal is logged at Fatal error level and the
// result is null; a file that fails a check is refused whole.
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

bx_config_config_data bx_config_init(const char *name);
char *bx_config_get_by_code(bx_config_config_data configuration, int code);
char *get_value_with_name(const char *name, bx_config_config_data configuration);
void bx_config_destroy_config(bx_config_config_data configuration);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

namespace brix {
// Scrambled file form of a plain configuration text (header + body).
std::string config_scramble(std::string_view plain);
// Outcome of checking a scrambled file's bytes.
enum class ConfigCheck { ok, missing_at, bad_len, bad_sum };
// Checks bytes and, when ok or bad_sum/bad_len, fills plain with the
// descrambled body (so tools can show what is there).
ConfigCheck config_descramble(std::string_view file, std::string &plain);
}  // namespace brix
#endif

#endif
