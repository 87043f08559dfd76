// bx_api_status: bx_status, the status text of an invoice.
//
// Every other script operation asks bx_status first to learn where a
// transaction stands.  The queues are searched in a fixed order without a
// queue lock, and the first that holds the invoice decides.
//
// Failure policy: a stored transaction that cannot be read leaves the text
// at "invoice {} amount {0.00}" after the status word; the status is still
// returned.  An unopened queue is logged and skipped.  A queue that cannot
// be searched is logged and answered with -1 and BX_TEXT_UNSEARCHABLE: an
// answer of "none" then could let a merchant create or sell the invoice a
// second time.
#include "api/bx_api_status.h"

#include <cstdlib>
#include <cstring>
#include <optional>

#include "api/bx_api_xact.h"
#include "queue/bx_queue_files.h"
#include "support/qor_log.h"
#include "support/qor_util.h"
#include "xaction/bx_xaction_retail.h"

namespace {

struct CodeText {
    char code;
    const char *text;
};

const CodeText kAvs[] = {
    {'X', " avs {ok} avs_addr {ok} avs_zip {ok}"},
    {'Y', " avs {ok} avs_addr {ok} avs_zip {partial}"},
    {'A', " avs {fail} avs_addr {ok} avs_zip {fail}"},
    {'W', " avs {fail} avs_addr {fail} avs_zip {ok}"},
    {'Z', " avs {fail} avs_addr {fail} avs_zip {partial}"},
    {'N', " avs {fail} avs_addr {fail} avs_zip {fail}"},
    {'R', " avs {reenter}"},
    {'S', " avs {unsupported}"},
    {'U', " avs {unavailable}"},
    {'G', " avs {record not found}"},
    {'5', " avs {invalid response from processor}"},
    {'9', " avs {invalid data}"},
    {'E', " avs {transaction ineligible}"},
};

const CodeText kCvv2[] = {
    {'M', " cvv2 {ok}"},      {'N', " cvv2 {fail}"},        {'P', " cvv2 {not processed}"},
    {'S', " cvv2 {should be on card}"}, {'U', " cvv2 {unavailable}"},
};

template <size_t N>
const char *lookup(const CodeText (&table)[N], char code, const char *other) {
    for (const CodeText &row : table)
        if (row.code == code) return row.text;
    return other;
}

// Cents with two decimals, negative amounts with a leading minus.
void append_money(bx_session s, const char *format, long long cents) {
    char text[32];
    long long whole = llabs(cents) / 100, frac = llabs(cents) % 100;
    snprintf(text, sizeof text, "%s%lld.%02lld", cents < 0 ? "-" : "", whole, frac);
    bx_appendf(s, format, text);
}

void describe(bx_session s, const _bx_xaction &x) {
    long long amount = x.amount;
    if (x.subtype.code == BX_CODE_RETURN) amount = -amount;
    if (x.subtype.code == BX_CODE_VOID || x.subtype.code == BX_CODE_REVERSE) amount = 0;
    bx_appendf(s, "invoice {%s}", x.data.retail.invoice);
    append_money(s, " amount {%s}", amount);
    if (x.tax != 0) append_money(s, " tax {%s}", x.tax);
    const bx_ordertype *type = bx_ordertype_of(x.rtype);
    if (type && type->shown) bx_appendf(s, " type {%s}", type->word);
    if (x.entrysource == 1) bx_appendf(s, " entrysource {merchant}");
    if (x.entrysource == 2) bx_appendf(s, " entrysource {customer}");
    const struct {
        const char *label;
        time_t when;
    } times[] = {{"newtime", x.time.creat}, {"authtime", x.time.auth},
                 {"readytime", x.time.ready}, {"donetime", x.time.done}};
    for (const auto &t : times)
        if (t.when != 0) bx_appendf(s, " %s {%s}", t.label, qor_util_ctimestr(&t.when));
    if (x.subtype.format == BX_FORMAT_RETAIL && x.data.retail.comment[0])
        bx_appendf(s, " comment {%s}", x.data.retail.comment);
    if (x.authcode[0]) bx_appendf(s, " acode {%s}", x.authcode);
    if (x.acc.check.accname[0]) bx_appendf(s, " accountname {%s}", x.acc.check.accname);
    if (x.acc.check.product[0]) bx_appendf(s, " product {%s}", x.acc.check.product);
    if (!x.hasresult) return;
    if (x.data.retail.avsflag)
        bx_appendf(s, "%s", lookup(kAvs, x.data.retail.avs_code, " avs {unknown status}"));
    if (x.cvv2.status) bx_appendf(s, "%s", lookup(kCvv2, x.cvv2.code, " cvv2 {unknown status}"));
    bx_appendf(s, " result_text {%s}", x.result.text);
    if (x.result.rcodeiso[0]) bx_appendf(s, " result_iso {%s}", x.result.rcodeiso);
}

// The queues searched in their fixed order: the status bit of the first
// that holds the invoice (its item handed over in *found, when asked for),
// 0 when none does, -1 (logged) when a queue cannot be searched.
int search(bx_session s, const char *invoice, bx_queue_item *found) {
    // Without an item to hand over, a probe of each queue does: the same
    // files and locks, without copying the item out.
    std::optional<bxq::Probe> probe;
    if (!found) probe.emplace(invoice);
    for (const bx_queue_def *def : bx_queue_search) {
        bx_queue q = bx_api_queue(s, def->status, "bx_status");
        if (!q) continue;
        bx_queue_item item = nullptr;
        int held = probe ? probe->in(q) : (item = bx_queue_find_item(q, invoice)) ? 1 : q->lasterr ? -1 : 0;
        if (held < 0) {
            qor_logf(QOR_LOG_NONFATAL, "bx_status: queue '%s' cannot be searched for transaction %s", q->qname,
                     invoice);
            return -1;
        }
        if (!held) continue;
        if (found) *found = item;
        return def->status;
    }
    return BX_STAT_NONE;
}

}  // namespace

extern "C" {

int bx_status(bx_session vsess, const char *invoice) {
    if (!vsess) return BX_UNINIT;
    vsess->apitext[0] = '\0';
    if (!invoice) invoice = "";
    bx_queue_item item = nullptr;
    int status = search(vsess, invoice, &item);
    if (status < 0) {
        qor_field_set(vsess->apitext, BX_TEXT_UNSEARCHABLE);
        return status;
    }
    if (status == BX_STAT_NONE) {
        bx_appendf(vsess, "invoice {%.8s} status {%s}", invoice, bx_stat2str(BX_STAT_NONE));
        return BX_STAT_NONE;
    }
    bx_queue q = bx_api_queue(vsess, status, "bx_status");
    bx_appendf(vsess, "status {%s} ", bx_stat2str(status));
    _bx_xaction x;
    bx_api_fetch(q, item, &x);
    bx_queue_item_close(q, item);
    describe(vsess, x);
    return status;
}

}  // extern "C"

int bx_api_where(bx_session s, const char *invoice) { return search(s, invoice ? invoice : "", nullptr); }
