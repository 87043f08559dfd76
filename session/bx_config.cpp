// bx_config: the merchant configuration file.  See bx_config.h.
//
// The file is read byte by byte: each body byte is descrambled, counted
// for the length and sum checks and collected into the current line; a
// complete line becomes a pair at once.  The checks can only be compared
// once the whole body is read, so a file that fails one is thrown away
// whole and none of its pairs is ever seen by a caller.
//
// Failure policy: refusals are logged at Fatal error level and give null;
// an unopenable file gives an empty configuration.  Lookups never log,
// except the data directory check of BRIXPath.
#include "session/bx_config.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <climits>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "support/qor_log.h"
#include "support/qor_util.h"

namespace {

constexpr size_t kPathSize = 4096;        // "%s/%s.conf" buffer, terminator included
constexpr size_t kFirstLineSize = 256;    // line buffer, doubled as lines demand
constexpr char kVersion[] = "BRIX3.3A";   // the software version (code 11)
constexpr char kConfigDirVar[] = "BRIX_CONFIG_DIR";
constexpr const char *kStandardDirs[] = {"/var/brix", "/usr/local/etc/brix"};

// The host's directory (bx_config_set_dir); empty when none is set.  A
// process-wide setting, like the environment variable it stands behind.
std::string g_host_dir;

// Scrambled form: "@", four characters of the length check A, four of the
// sum check B, then the body XORed with a rolling key.
constexpr char kMagic = '@';
constexpr size_t kCheckChars = 4;
constexpr size_t kHeaderSize = 1 + 2 * kCheckChars;
constexpr unsigned kFirstKey = 0x5B;
constexpr unsigned kKeyStep = 0x29;
constexpr unsigned kKeyModulus = 128;
constexpr unsigned kLenMask = 0x6B3E;
constexpr unsigned kSumMask = 0x7E15;

// The rolling XOR; scrambling and descrambling are the same operation.
class RollingKey {
public:
    unsigned char apply(unsigned char byte) {
        unsigned char out = static_cast<unsigned char>(byte ^ key_);
        key_ = (key_ + kKeyStep) % kKeyModulus;
        return out;
    }

private:
    unsigned key_ = kFirstKey;
};

// Length and sum of the plain body bytes, as the header records them.
class BodyChecks {
public:
    void count(unsigned char plain) {
        length_++;
        sum_ += plain;
    }
    unsigned a() const { return static_cast<unsigned>((length_ ^ kLenMask) & 0xFFFF); }
    unsigned b() const { return static_cast<unsigned>((sum_ ^ kSumMask) & 0xFFFF); }
    // Length first: a changed byte count says more than a changed sum.
    brix::ConfigCheck compare(unsigned a_read, unsigned b_read) const {
        if (a() != a_read) return brix::ConfigCheck::bad_len;
        if (b() != b_read) return brix::ConfigCheck::bad_sum;
        return brix::ConfigCheck::ok;
    }

private:
    unsigned long long length_ = 0;
    unsigned long long sum_ = 0;
};

// Four header characters, most significant nibble first.  A writer uses
// "A" to "P"; any other byte still stands for its low four bits above 65.
unsigned read_check(const unsigned char *chars) {
    unsigned v = 0;
    for (size_t i = 0; i < kCheckChars; i++) v = (v << 4) | ((chars[i] - 65u) & 0xFu);
    return v;
}

void write_check(std::string &out, unsigned v) {
    for (int shift = 12; shift >= 0; shift -= 4)
        out.push_back(static_cast<char>('A' + ((v >> shift) & 0xFu)));
}

bool is_name_char(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char *dup_text(std::string_view text) {
    char *p = static_cast<char *>(malloc(text.size() + 1));
    if (!p) return nullptr;
    memcpy(p, text.data(), text.size());
    p[text.size()] = '\0';
    return p;
}

bx_config_config_data new_config() {
    return static_cast<bx_config_config_data>(calloc(1, sizeof(_bx_config_config_data)));
}

bool append_pair(bx_config_config_data cfg, std::string_view name, std::string_view value) {
    if (cfg->num_config_items == INT_MAX) return false;
    size_t count = static_cast<size_t>(cfg->num_config_items) + 1;
    char *n = dup_text(name);
    char *v = dup_text(value);
    if (!n || !v) {
        free(n);
        free(v);
        return false;
    }
    // Each array grows on its own; a larger names array left behind by a
    // failed second step is harmless, the count decides what is in use.
    char **names = static_cast<char **>(realloc(cfg->config_names, count * sizeof(char *)));
    if (names) cfg->config_names = names;
    char **values = names ? static_cast<char **>(realloc(cfg->config_values, count * sizeof(char *)))
                          : nullptr;
    if (values) cfg->config_values = values;
    if (!names || !values) {
        free(n);
        free(v);
        return false;
    }
    names[count - 1] = n;
    values[count - 1] = v;
    cfg->num_config_items = static_cast<int>(count);
    return true;
}

// Builds "<dir>/<name>.conf"; false when it does not fit the buffer.
bool config_path(char (&path)[kPathSize], const char *dir, const char *name) {
    int n = snprintf(path, sizeof path, "%s/%s.conf", dir, name);
    return n >= 0 && static_cast<size_t>(n) < sizeof path;
}

// A name too long for its path is refused rather than cut into the name
// of some other file.  The name shown is cut so the whole line, suffix
// included, still fits one log line.
bx_config_config_data refuse_long_path(const char *name) {
    static constexpr char kHead[] = "Configuration path for '";
    static constexpr char kTail[] = "' is too long";
    size_t fixed = strlen(qor_log_levelname(QOR_LOG_FATAL)) + 2 + (sizeof kHead - 1) +
                   (sizeof kTail - 1) + 1;  // "<level>: " ... "\n"
    size_t room = kPathSize - 1 - fixed;
    size_t len = strnlen(name, room);
    qor_logf(QOR_LOG_FATAL, "%s%.*s%s", kHead, static_cast<int>(len), name, kTail);
    return nullptr;
}

bx_config_config_data refuse_file(bx_config_config_data cfg, const char *path) {
    bx_config_destroy_config(cfg);
    qor_logf(QOR_LOG_FATAL, "Bad configuration file at %s", path);
    return nullptr;
}

struct FileCloser {
    void operator()(FILE *f) const { fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// The line buffer grows by doubling, like a fixed C buffer would, so the
// out-of-memory case is a plain "could not grow" and not an exception.
class LineBuffer {
public:
    bool init() { return reserve(kFirstLineSize); }
    // Room for one more byte and a terminator.
    bool push(char c) {
        if (text_.size() + 2 > size_ && !reserve(size_ * 2)) return false;
        text_.push_back(c);
        return true;
    }
    const char *c_str() const { return text_.c_str(); }
    void clear() { text_.clear(); }

private:
    bool reserve(size_t size) {
        try {
            text_.reserve(size - 1);
        } catch (const std::exception &) {
            return false;
        }
        size_ = size;
        return true;
    }
    std::string text_;
    size_t size_ = 0;
};

enum class Handling { plain, directory, version };

struct CodeEntry {
    int code;
    const char *key;    // configuration key looked up (none for the version)
    Handling handling;
};

constexpr CodeEntry kCodes[] = {
    {BX_CFG_MODEMINIT, "ModemInit", Handling::plain},
    {BX_CFG_MODEMDIALSTRING, "ModemDialString", Handling::plain},
    {BX_CFG_MODEMHANGUP, "ModemHangUp", Handling::plain},
    {BX_CFG_PHONENUMBER, "PhoneNumber", Handling::plain},
    {BX_CFG_USERNAME, "UserName", Handling::plain},
    {BX_CFG_BRIXPATH, "BRIXPath", Handling::directory},
    {BX_CFG_MODEMPORT, "ModemPort", Handling::plain},
    {BX_CFG_MERCHANTNO, "MerchantNo", Handling::plain},
    {BX_CFG_DEVICEID, "DeviceID", Handling::plain},
    {BX_CFG_OPERATORID, "OperatorID", Handling::plain},
    {BX_CFG_VERSION, nullptr, Handling::version},
    {BX_CFG_CONFIGCONNECTION, "ConfigConnection", Handling::plain},
    {BX_CFG_CLEARINGPROTOCOL, "ClearingProtocol", Handling::plain},
    {BX_CFG_BAUDRATE, "BaudRate", Handling::plain},
    {BX_CFG_FORCE, "Force", Handling::plain},
    {BX_CFG_CURRENCY, "Currency", Handling::plain},
    {BX_CFG_MERCHANTCOUNTRY, "MerchantCountry", Handling::plain},
    {BX_CFG_MERCHANTZIP, "MerchantZIP", Handling::plain},
    {BX_CFG_MERCHANTTIMEZONE, "MerchantTimeZone", Handling::plain},
    {BX_CFG_MERCHANTINDUSTRY, "MerchantIndustry", Handling::plain},
    {BX_CFG_UNAME, "Uname", Handling::plain},
    {BX_CFG_BANKID, "BankID", Handling::plain},
    {BX_CFG_AGENTBANK, "AgentBank", Handling::plain},
    {BX_CFG_AGENTCHAIN, "AgentChain", Handling::plain},
    {BX_CFG_MERCHANTCITY, "MerchantCity", Handling::plain},
    {BX_CFG_MERCHANTSTATE, "MerchantState", Handling::plain},
    {BX_CFG_MERCHANTNAME, "MerchantName", Handling::plain},
    {BX_CFG_TRANSACTIONCODE, "TransactionCode", Handling::plain},
    {BX_CFG_TAXPAYERID, "TaxpayerID", Handling::plain},
    {BX_CFG_PHONENUMBERSETTLE, "PhoneNumberSettle", Handling::plain},
    {BX_CFG_MODEMPORTSETTLE, "ModemPortSettle", Handling::plain},
    {BX_CFG_MERCHANTSTREET, "MerchantStreet", Handling::plain},
    {BX_CFG_MERCHANTCOMMENT, "MerchantComment", Handling::plain},
    {BX_CFG_NETLOGIN, "NetLogin", Handling::plain},
    {BX_CFG_ENTRYCAPABILITIES, "EntryCapabilities", Handling::plain},
    {BX_CFG_TAXEXEMPT, "TaxExempt", Handling::plain},
    {BX_CFG_DEMODELAYDIAL, "DemoDelayDial", Handling::plain},
    {BX_CFG_DEMODELAYTRANSACTION, "DemoDelayTransaction", Handling::plain},
    {BX_CFG_DEMODELAYHANGUP, "DemoDelayHangup", Handling::plain},
    {BX_CFG_ISSUERMAGIC, "IssuerMagic", Handling::plain},
    {BX_CFG_TRANSACTIONTIMEOUT, "TransactionTimeout", Handling::plain},
};

const CodeEntry *find_code(int code) {
    for (const auto &e : kCodes)
        if (e.code == code) return &e;
    return nullptr;
}

// Reads one scrambled file's bytes, handed over one at a time by next()
// (EOF after the last), into the empty configuration cfg; returns cfg, or
// null (cfg released) when the file is refused.  `shown` names the file in
// the log.  The file loader and the in-memory loader share it, so bytes
// are judged alike wherever they come from.
template <typename Next>
bx_config_config_data read_config(bx_config_config_data cfg, Next next, const char *shown) {
    if (next() != kMagic) {
        qor_log(QOR_LOG_FATAL, "Missing @ in config file");
        return refuse_file(cfg, shown);
    }
    unsigned char header[2 * kCheckChars];
    // A header cut short cannot vouch for any length: it fails that check.
    bool header_whole = true;
    for (unsigned char &h : header) {
        int c = next();
        if (c == EOF) {
            header_whole = false;
            break;
        }
        h = static_cast<unsigned char>(c);
    }
    unsigned a_read = header_whole ? read_check(header) : 0;
    unsigned b_read = header_whole ? read_check(header + kCheckChars) : 0;

    RollingKey key;
    BodyChecks checks;
    LineBuffer line;
    bool out_of_memory = !line.init();
    int c;
    while (!out_of_memory && (c = next()) != EOF) {
        unsigned char plain = key.apply(static_cast<unsigned char>(c));
        checks.count(plain);
        if (!line.push(static_cast<char>(plain))) {
            out_of_memory = true;
            break;
        }
        if (plain == '\n') {
            if (cc_parse_line(line.c_str(), cfg) != 0) out_of_memory = true;
            line.clear();
        }
    }

    if (out_of_memory)
        qor_logf(QOR_LOG_FATAL, "Out of memory processing configuration file %s", shown);
    brix::ConfigCheck verdict =
        header_whole ? checks.compare(a_read, b_read) : brix::ConfigCheck::bad_len;
    if (verdict == brix::ConfigCheck::bad_len) {
        qor_log(QOR_LOG_FATAL, "Config file seems to be corrupted (len)");
        return refuse_file(cfg, shown);
    }
    if (verdict == brix::ConfigCheck::bad_sum) {
        qor_log(QOR_LOG_FATAL, "Config file seems to be corrupted (sum)");
        return refuse_file(cfg, shown);
    }
    // Unread or unstored lines mean an incomplete configuration, even in
    // the unlikely case that the checks happened to agree.
    if (out_of_memory) return refuse_file(cfg, shown);
    return cfg;
}

}  // namespace

extern "C" {

int bx_config_set_dir(const char *dir) {
    try {
        g_host_dir = dir ? dir : "";
    } catch (const std::exception &) {
        g_host_dir.clear();
        return -1;
    }
    return 0;
}

const char *bx_config_dir(int *source) {
    int from = BX_CONFIG_DIR_STANDARD;
    const char *dir = nullptr;
    if ((dir = getenv(kConfigDirVar))) {
        from = BX_CONFIG_DIR_ENVIRONMENT;
    } else if (!g_host_dir.empty()) {
        dir = g_host_dir.c_str();
        from = BX_CONFIG_DIR_HOST;
    }
    if (source) *source = from;
    return dir;
}

const char *bx_config_standard_dir(int index) {
    constexpr int count = sizeof kStandardDirs / sizeof kStandardDirs[0];
    return index >= 0 && index < count ? kStandardDirs[index] : nullptr;
}

bx_config_config_data bx_config_init(const char *name) {
    if (!name) return nullptr;
    char path[kPathSize];
    // An explicit directory is taken at its word: no existence check, so
    // a missing file there is reported rather than silently replaced.
    if (const char *dir = bx_config_dir(nullptr)) {
        if (!config_path(path, dir, name)) return refuse_long_path(name);
        return load_config(path);
    }
    for (const char *dir : kStandardDirs) {
        if (!config_path(path, dir, name)) return refuse_long_path(name);
        struct stat st;
        if (stat(path, &st) == 0) return load_config(path);
    }
    return nullptr;
}

bx_config_config_data load_config(const char *path) {
    const char *shown = path ? path : "";
    bx_config_config_data cfg = new_config();
    File file(cfg && path ? fopen(path, "rb") : nullptr);
    if (!cfg || !file) {
        qor_logf(QOR_LOG_FATAL, "Could not locate configuration file in %s", shown);
        return cfg;
    }
    return read_config(cfg, [&file] { return getc(file.get()); }, shown);
}

int cc_parse_line(const char *line, bx_config_config_data configuration) {
    if (!line || !configuration) return -1;
    std::string_view text(line);
    text = text.substr(0, text.find('\n'));

    size_t i = 0;
    while (i < text.size() && is_name_char(static_cast<unsigned char>(text[i]))) i++;
    // Only "name:" forms a usable name; any other line is stored under
    // the whole line, which no configuration key can equal.
    std::string_view name = text;
    size_t rest = i;
    if (i < text.size() && text[i] == ':') {
        name = text.substr(0, i);
        rest = i + 1;
    }
    while (rest < text.size() && is_space(static_cast<unsigned char>(text[rest]))) rest++;
    if (rest == text.size()) return 0;
    return append_pair(configuration, name, text.substr(rest)) ? 0 : -1;
}

int checkdir(const char *path) {
    if (!path) return 0;
    if (DIR *d = opendir(path)) {
        closedir(d);
        return 1;
    }
    if (mkdir(path, 0700) == 0) return 1;
    // Another process may have made it between the two calls.
    if (errno != EEXIST) return 0;
    if (DIR *d = opendir(path)) {
        closedir(d);
        return 1;
    }
    return 0;
}

char *get_value_with_name(const char *name, bx_config_config_data configuration) {
    if (!name || !configuration) return nullptr;
    for (int i = 0; i < configuration->num_config_items; i++)
        if (qor_util_strcasecmp(configuration->config_names[i], name) == 0)
            return qor_util_strdup(configuration->config_values[i]);
    return nullptr;
}

char *bx_config_get_by_code(bx_config_config_data configuration, int code) {
    const CodeEntry *entry = find_code(code);
    if (!entry) return nullptr;
    if (entry->handling == Handling::version) return qor_util_strdup(kVersion);

    char *value = get_value_with_name(entry->key, configuration);
    if (value && entry->handling == Handling::directory && !checkdir(value)) {
        qor_logf(QOR_LOG_FATAL, "Directory %s does not exist and could not be created.", value);
        free(value);
        return nullptr;
    }
    return value;
}

void bx_config_destroy_config(bx_config_config_data configuration) {
    if (!configuration) return;
    for (int i = 0; i < configuration->num_config_items; i++) {
        free(configuration->config_names[i]);
        free(configuration->config_values[i]);
    }
    free(configuration->config_names);
    free(configuration->config_values);
    free(configuration);
}

}  // extern "C"

namespace brix {

std::string config_scramble(std::string_view plain) {
    BodyChecks checks;
    for (char c : plain) checks.count(static_cast<unsigned char>(c));
    std::string out;
    out.reserve(kHeaderSize + plain.size());
    out.push_back(kMagic);
    write_check(out, checks.a());
    write_check(out, checks.b());
    RollingKey key;
    for (char c : plain) out.push_back(static_cast<char>(key.apply(static_cast<unsigned char>(c))));
    return out;
}

ConfigCheck config_descramble(std::string_view file, std::string &plain) {
    plain.clear();
    if (file.empty() || file[0] != kMagic) return ConfigCheck::missing_at;
    if (file.size() < kHeaderSize) return ConfigCheck::bad_len;
    const auto *header = reinterpret_cast<const unsigned char *>(file.data()) + 1;
    RollingKey key;
    BodyChecks checks;
    std::string_view body = file.substr(kHeaderSize);
    plain.reserve(body.size());
    for (char c : body) {
        unsigned char b = key.apply(static_cast<unsigned char>(c));
        checks.count(b);
        plain.push_back(static_cast<char>(b));
    }
    return checks.compare(read_check(header), read_check(header + kCheckChars));
}

bx_config_config_data config_from_plain(std::string_view plain) noexcept {
    bx_config_config_data cfg = new_config();
    if (!cfg) return nullptr;
    try {
        size_t start = 0;
        for (size_t lf; (lf = plain.find('\n', start)) != std::string_view::npos; start = lf + 1) {
            // The loader hands each line over as a C string, so a NUL byte
            // ends it there; the copy keeps that rule.
            std::string line(plain.substr(start, lf + 1 - start));
            if (cc_parse_line(line.c_str(), cfg) != 0) {
                bx_config_destroy_config(cfg);
                return nullptr;
            }
        }
    } catch (const std::exception &) {
        bx_config_destroy_config(cfg);
        return nullptr;
    }
    return cfg;
}

bx_config_config_data config_load(std::string_view file, const char *shown) noexcept {
    bx_config_config_data cfg = new_config();
    if (!cfg) {
        qor_logf(QOR_LOG_FATAL, "Out of memory processing configuration file %s", shown ? shown : "");
        return nullptr;
    }
    size_t at = 0;
    auto next = [&file, &at]() -> int {
        return at < file.size() ? static_cast<unsigned char>(file[at++]) : EOF;
    };
    return read_config(cfg, next, shown ? shown : "");
}

}  // namespace brix
