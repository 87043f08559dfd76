// bx_session: builds the session record from a loaded configuration and
// releases it again.
//
// Called by bx_init (api/bx_api_init) only.  bx_session_create copies the
// merchant identity out of the configuration into fixed fields (cutting
// each value to its field's width), applies the defaults of absent values
// and opens the nine spool queues.
//
// Failure policy: a missing required value (ModemPort, BRIXPath,
// MerchantNo) is logged and gives no session; the configuration stays the
// caller's then.  A queue that cannot be opened is logged and left absent;
// the session still opens.
#include "session/bx_session.h"

#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "queue/bx_queue.h"
#include "queue/bx_spool.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "validate/bx_util_issuer.h"

extern "C" {
char bx_initerror[1024];
}

void bx_settext(bx_session s, const char *text) { qor_field_set(s->apitext, text); }

bx_spool bx_session_spool(bx_session s) {
    bx_spool sp;
    sp.dir = s->qdir;
    for (const bx_queue_def &d : bx_queue_defs)
        sp.queues.push_back({bx_stat2str(d.status), s->*d.field, true, d.search});
    sp.queues.push_back({bx_globals_name, s->globals, false, 0});
    return sp;
}

void bx_appendf(bx_session s, const char *format, ...) {
    size_t used = strlen(s->apitext);
    if (used + 1 >= sizeof s->apitext) return;
    va_list ap;
    va_start(ap, format);
    vsnprintf(s->apitext + used, sizeof s->apitext - used, format, ap);
    va_end(ap);
}

namespace {

using Value = brix::ConfigValue;

// A fixed field filled from one configuration code, with its default.
struct FieldSpec {
    int code;
    size_t offset;            // offset of the field within _bx_session
    size_t width;             // at most this many characters
    const char *fallback;     // default when absent (null: leave empty)
};

#define BX_FIELD(code, field, fallback) \
    FieldSpec { code, offsetof(_bx_session, field), sizeof(((_bx_session *)0)->field) - 1, fallback }

// Copied in this order; the widths are those of the record.
const FieldSpec kFields[] = {
    BX_FIELD(BX_CFG_TAXPAYERID, taxid, nullptr),
    BX_FIELD(BX_CFG_DEVICEID, devid, nullptr),
    BX_FIELD(BX_CFG_OPERATORID, opid, nullptr),
    BX_FIELD(BX_CFG_VERSION, version, nullptr),
    BX_FIELD(BX_CFG_TRANSACTIONCODE, transtype, nullptr),
    BX_FIELD(BX_CFG_BANKID, bankid, "000000"),
    BX_FIELD(BX_CFG_AGENTBANK, agentbank, "000000"),
    BX_FIELD(BX_CFG_AGENTCHAIN, agentchain, "000000"),
    BX_FIELD(BX_CFG_MERCHANTNAME, mercname, nullptr),
    BX_FIELD(BX_CFG_MERCHANTCITY, cityname, nullptr),
    BX_FIELD(BX_CFG_MERCHANTSTATE, statename, nullptr),
    BX_FIELD(BX_CFG_MERCHANTSTREET, streetname, nullptr),
    BX_FIELD(BX_CFG_CURRENCY, currency, "840"),
    BX_FIELD(BX_CFG_MERCHANTCOUNTRY, country, "840"),
    BX_FIELD(BX_CFG_MERCHANTZIP, citycode, nullptr),
    BX_FIELD(BX_CFG_MERCHANTTIMEZONE, timezone, "705"),
    BX_FIELD(BX_CFG_MERCHANTINDUSTRY, industry, "5999"),
    BX_FIELD(BX_CFG_ENTRYCAPABILITIES, entrycap, "U"),
    BX_FIELD(BX_CFG_TAXEXEMPT, taxexempt, "U"),
    BX_FIELD(BX_CFG_MERCHANTCOMMENT, mercomment, nullptr),
};
#undef BX_FIELD

// atoi without undefined behaviour on out-of-range numbers.
int to_int(const char *text) {
    long v = strtol(text, nullptr, 10);
    if (v > 2147483647L) return 2147483647;
    if (v < -2147483647L - 1) return -2147483647 - 1;
    return static_cast<int>(v);
}

// "min,max" or one number for both.
void read_delay(bx_config_config_data c, int code, int &min, int &max) {
    Value v(c, code);
    if (!v) return;
    const char *comma = strchr(v.text, ',');
    min = to_int(v.text);
    max = comma ? to_int(comma + 1) : min;
}

// "NAME=value;NAME=value": names compared with regard to case.
void read_issuer_magic(bx_session s, const char *list) {
    std::string_view rest(list);
    while (true) {
        size_t eq = rest.find('=');
        if (eq == std::string_view::npos) return;
        std::string_view name = rest.substr(0, eq);
        rest.remove_prefix(eq + 1);
        size_t semi = rest.find(';');
        std::string_view value = rest.substr(0, semi);
        for (int i = 0; i < BX_NUM_ISSUERS; i++) {
            if (name != bx_ctype_shortname[i]) continue;
            size_t n = std::min(value.size(), sizeof s->issuer[i].magic - 1);
            memcpy(s->issuer[i].magic, value.data(), n);
            s->issuer[i].magic[n] = '\0';
            break;
        }
        if (semi == std::string_view::npos) return;
        rest.remove_prefix(semi + 1);
    }
}

void free_record(bx_session s) {
    free(s->port);
    free(s->modem);
    free(s);
}

}  // namespace

extern "C" {

bx_session bx_session_create(bx_config_config_data configuration) {
    bx_session s = static_cast<bx_session>(calloc(1, sizeof(_bx_session)));
    if (!s) return nullptr;
    s->config_context = configuration;
    s->prophase = 0;

    s->port = bx_config_get_by_code(configuration, BX_CFG_MODEMPORT);
    if (!s->port) {
        // The library lives inside a web server's worker: refuse the
        // session instead of ending the host process.
        qor_log(QOR_LOG_FATAL, "Can't set communications port.");
        snprintf(bx_initerror, sizeof bx_initerror, "%s", "Can't set communications port.");
        free_record(s);
        return nullptr;
    }

    {
        Value path(configuration, BX_CFG_BRIXPATH);
        if (!path) {
            qor_log(QOR_LOG_NONFATAL, "can't read data path");
            free_record(s);
            return nullptr;
        }
        if (strlen(path.text) >= sizeof s->qdir) {
            qor_logf(QOR_LOG_NONFATAL, "data path is too long (%zu characters)", strlen(path.text));
            free_record(s);
            return nullptr;
        }
        qor_util_safestrcpy(s->qdir, path.text);
    }

    {
        Value mercid(configuration, BX_CFG_MERCHANTNO);
        if (!mercid) {
            qor_log(QOR_LOG_NONFATAL, "can't read merchant number");
            free_record(s);
            return nullptr;
        }
        qor_field_set(s->mercid, mercid.text);
    }

    char *base = reinterpret_cast<char *>(s);
    for (const FieldSpec &f : kFields) {
        Value v(configuration, f.code);
        const char *src = v ? v.text : f.fallback;
        if (src) qor_util_safestrncpy(base + f.offset, src, f.width);
    }
    // The postal code is always exactly nine characters, space padded.
    size_t zl = strlen(s->citycode);
    memset(s->citycode + zl, ' ', sizeof s->citycode - 1 - zl);
    s->citycode[sizeof s->citycode - 1] = '\0';

    {
        Value magic(configuration, BX_CFG_ISSUERMAGIC);
        if (magic) read_issuer_magic(s, magic.text);
    }
    {
        Value force(configuration, BX_CFG_FORCE);
        s->force = force && (qor_util_strcasecmp(force.text, "always") == 0 ||
                             qor_util_strcasecmp(force.text, "true") == 0);
    }

    _dll_delays &d = s->dll.delays;
    d = {};
    read_delay(configuration, BX_CFG_DEMODELAYDIAL, d.dialmin, d.dialmax);
    read_delay(configuration, BX_CFG_DEMODELAYTRANSACTION, d.transmin, d.transmax);
    read_delay(configuration, BX_CFG_DEMODELAYHANGUP, d.hangupmin, d.hangupmax);

    for (const bx_queue_def &q : bx_queue_defs)
        s->*q.field = bx_queue_open(bx_stat2str(q.status), 0, s->qdir);
    s->globals = bx_queue_open(bx_globals_name, 0, s->qdir);
    // An absent globals queue is not reported.
    for (const bx_queue_def &q : bx_queue_defs)
        if (!(s->*q.field)) qor_log(QOR_LOG_NONFATAL, q.missing);

    s->track.counted = 0;
    s->track.valid = 0;
    s->track.meterfd = -1;
    s->fd = -1;
    return s;
}

void bx_session_destroy(bx_session session) {
    if (!session) return;
    bx_config_destroy_config(session->config_context);
    session->config_context = nullptr;
    for (const bx_queue_def &q : bx_queue_defs) {
        if (session->*q.field) bx_queue_close(session->*q.field, 0);
        session->*q.field = nullptr;
    }
    if (session->globals) bx_queue_close(session->globals, 0);
    session->globals = nullptr;
    free_record(session);
}

}  // extern "C"
