// brix: the operator's tool over the library, for scripting and support.
//
// It opens a session on a merchant configuration as bx_init does and then
// either answers through the script operations (status, count, list,
// report, command and the requests), shows a stored record, or looks
// below them at the spool files through the queue store's own readers
// (queue/bx_spool.h): "check" reports what is damaged; "repair" settles
// what crashed processes left unfinished, moves torn items and extra
// copies into the spool's quarantine folder, rebuilds each queue's entry
// and index files and reports every change.  No item's bytes are ever
// thrown away.
//
// Output is one line per item in the library's brace words, "key {value}"
// ("show" prints "key = value"); --json prints each line as one JSON
// object instead.
//
// Failure policy: a configuration that cannot be opened or a transaction
// that cannot be found is one line "brix: NAME: problem" on standard error
// and exit status 1; a refused request or findings of check exit 1; a
// malformed command line prints the usage on standard error, exit 2.
// Library log lines go to the system log (-v also echoes them).
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_command.h"
#include "api/bx_api_count.h"
#include "api/bx_api_dauth.h"
#include "api/bx_api_delete.h"
#include "api/bx_api_init.h"
#include "api/bx_api_new.h"
#include "api/bx_api_return.h"
#include "api/bx_api_reverse.h"
#include "api/bx_api_sale.h"
#include "api/bx_api_status.h"
#include "api/bx_api_void.h"
#include "api/bx_api_xact.h"
#include "queue/bx_queue_files.h"
#include "queue/bx_spool.h"
#include "session/bx_report.h"
#include "tools/tool_common.h"
#include "xaction/bx_keydb.h"
#include "xaction/bx_xaction_keydb.h"

namespace {

using brixtool::Field;
using brixtool::Fields;
using Args = std::vector<std::string>;

constexpr char kProg[] = "brix";
constexpr int kExitOk = 0;
constexpr int kExitBad = 1;
constexpr int kExitUsage = 2;

constexpr char kUsage[] =
    "usage: brix -c CONFIG [--json] [-v] COMMAND [ARG...]\n"
    "       brix -h | --help\n"
    "\n"
    "Commands:\n"
    "  status INVOICE             where the invoice stands, as bx_status says\n"
    "  count [STATE...]           transactions per queue (default: all)\n"
    "  list STATE                 every transaction of a queue, oldest first\n"
    "  show STATE INVOICE         the stored record, key = value (card and account\n"
    "                             numbers masked, CVV2 and track data hidden)\n"
    "  report server|upload       the daemon's report\n"
    "  command NAME [ARG]         a protocol command (resend, receipt, ...)\n"
    "  new INVOICE                create a transaction\n"
    "  add INVOICE FIELD VALUE    set a field (amount, cardnum, expdate, ...); VALUE -\n"
    "                             reads it from standard input (one line of at most\n"
    "                             4096 bytes): use it for card and account numbers,\n"
    "                             CVV2 and track data, never the command line\n"
    "  auth|sale|return|reverse|void|delete INVOICE\n"
    "  check                      report damaged spool files\n"
    "  repair                     finish interrupted changes, quarantine torn items\n"
    "                             and extra copies, rebuild entry and index files\n"
    "STATE is new, auth, ready, done, unauth, denied, review or bad.\n"
    "Exit status: 0 success, 1 refused, not found or findings, 2 usage error.\n";

struct Ctx {
    bx_session s = nullptr;
    std::string config;
    bool json = false;
};

void emit(const Ctx &c, const Fields &f) { printf("%s\n", brixtool::render(f, c.json).c_str()); }

// An answer text of the library: as it is, or parsed into JSON.
void emit_answer(const Ctx &c, std::string text) {
    if (c.json) return emit(c, brixtool::parse_braces(text));
    while (!text.empty() && text.back() == '\n') text.pop_back();
    printf("%s\n", text.c_str());
}

// The outcome of an operation: its code, the code's text and the answer.
int emit_result(const Ctx &c, int rc) {
    Fields f = {{"code", std::to_string(rc), true}, {"result", bx_ret2str(rc)}};
    std::string text = c.s->apitext;
    if (c.json) {
        if (!text.empty())
            for (Field &a : brixtool::parse_braces(text)) f.push_back(std::move(a));
        emit(c, f);
    } else {
        printf("%s%s%s\n", brixtool::render(f, false).c_str(), text.empty() ? "" : " ", text.c_str());
    }
    return rc == BX_OK ? kExitOk : kExitBad;
}

int fail(const std::string &what, const std::string &problem) {
    fprintf(stderr, "%s: %s: %s\n", kProg, what.c_str(), problem.c_str());
    return kExitBad;
}

// A single queue's status bit, or 0.
int one_state(const std::string &word) {
    int bit = bx_str2stat(word.c_str());
    return bx_queue_def_of(bit) ? bit : 0;
}

// --- Script operations -----------------------------------------------------------

int cmd_status(Ctx &c, const Args &a) {
    int status = bx_status(c.s, a[0].c_str());
    emit_answer(c, c.s->apitext);
    return status > 0 ? kExitOk : kExitBad;
}

int cmd_count(Ctx &c, const Args &a) {
    int mask = a.empty() ? BX_STAT_ALL : 0;
    for (const std::string &w : a) mask |= bx_str2stat(w.c_str());
    for (const bx_queue_def &d : bx_queue_defs) {
        if (!(mask & d.status)) continue;
        int n = bx_count(c.s, d.status);
        emit(c, {{"state", bx_stat2str(d.status)}, {"count", std::to_string(n), true}});
    }
    return kExitOk;
}

int cmd_list(Ctx &c, const Args &a) {
    int status = one_state(a[0]);
    bx_queue q = bx_api_queue(c.s, status, kProg);
    if (!q) return fail(c.config, "queue '" + a[0] + "' is not open");
    // One walk collects the invoices; their status lines are asked for
    // after it (a look-up in the middle of the walk would end its locks).
    std::vector<std::pair<std::string, const char *>> seen;  // invoice, or a problem
    bool walked = bxq::walk_queue(q, [&](uint32_t, bx_queue_item raw) {
        bx_queue_item_ptr item(raw);
        _bx_xaction x;
        if (!item || bx_api_fetch(q, item.get(), &x) != 1)
            seen.emplace_back("", item ? "item cannot be unpacked" : "item cannot be read");
        else
            seen.emplace_back(x.data.retail.invoice, nullptr);
        return true;
    });
    if (!walked) return fail(c.config, "queue '" + a[0] + "' cannot be read: " + strerror(q->lasterr));
    for (size_t pos = 0; pos < seen.size(); pos++) {
        if (seen[pos].second) {
            emit(c, {{"queue", bx_stat2str(status)},
                     {"position", std::to_string(pos + 1), true},
                     {"problem", seen[pos].second}});
            continue;
        }
        bx_status(c.s, seen[pos].first.c_str());
        emit_answer(c, c.s->apitext);
    }
    return kExitOk;
}

using brix::printable;

int cmd_show(Ctx &c, const Args &a) {
    int status = one_state(a[0]);
    bx_queue q = bx_api_queue(c.s, status, kProg);
    if (!q) return fail(c.config, "queue '" + a[0] + "' is not open");
    bx_queue_item_ptr item(bx_queue_find_item(q, a[1].c_str()));
    if (!item) return fail(c.config, "no transaction " + a[1] + " in queue '" + a[0] + "'");
    bx_keydbel db = bx_keydb_unpack(item->buf, item->size);
    if (!db) return fail(item->fname, "stored record cannot be unpacked");
    auto line = [&c](const char *key, const std::string &value) {
        if (c.json)
            emit(c, {{"key", key}, {"value", value}});
        else
            printf("%s = %s\n", key, printable(value).c_str());
    };
    line("Invoice", db->invoice);
    bx_keydb_iterate(
        db,
        [](const char *key, const char *val, void *rock) {
            // Secret values are masked or hidden as the key table says.
            (*static_cast<decltype(line) *>(rock))(key, brix::xaction_shown(key, val));
            return 0;
        },
        &line);
    bx_keydb_destroy(db);
    return kExitOk;
}

int cmd_report(Ctx &c, const Args &a) {
    int type = bx_str2rep(a[0].c_str());
    if (bx_getreport(c.s, type) != BX_OK)
        return fail(c.config, "no " + a[0] + " report (" + c.s->qdir + "." + bx_repname[type] + ")");
    emit_answer(c, c.s->apitext);
    return kExitOk;
}

int cmd_command(Ctx &c, const Args &a) {
    return emit_result(c, bx_command(c.s, bx_str2cmd(a[0].c_str()), a.size() > 1 ? a[1].c_str() : nullptr));
}

// The value "-" of add: one line of standard input, its newline removed,
// so that card numbers, CVV2 values, track data and account numbers need
// not appear on a command line, where other users and shell histories see
// them.  Refuses no line, a longer line, a NUL byte and, unless a person
// types it at a terminal, anything after the line.
constexpr size_t kStdinValueMax = 4096;

bool read_stdin_value(std::string &value, std::string &problem) {
    value.clear();
    int ch;
    bool newline = false;
    while ((ch = getchar()) != EOF) {
        if (ch == '\n') {
            newline = true;
            break;
        }
        if (value.size() == kStdinValueMax) {
            problem = "value is longer than " + std::to_string(kStdinValueMax) + " bytes";
            return false;
        }
        value += static_cast<char>(ch);
    }
    if (ferror(stdin)) {
        problem = std::string("cannot be read: ") + strerror(errno);
        return false;
    }
    if (!newline && value.empty()) {
        problem = "holds no value";
        return false;
    }
    if (newline && !isatty(STDIN_FILENO) && getchar() != EOF) {
        problem = "holds more than one line";
        return false;
    }
    if (value.find('\0') != std::string::npos) {
        problem = "value holds a NUL byte";
        return false;
    }
    return true;
}

int cmd_add(Ctx &c, const Args &a) {
    std::string value = a[2], problem;
    if (value == "-" && !read_stdin_value(value, problem)) return fail("standard input", problem);
    return emit_result(c, bx_add(c.s, a[0].c_str(), bx_str2arg(a[1].c_str()), value.c_str()));
}

// --- check and repair ---------------------------------------------------------------

// A stored transaction as the check and the repair judge it.
bx_spool_content judge(const char *data, int size) {
    _bx_xaction x;
    if (bx_xaction_unpack(data, &x, size) != 1) return {"", "unreadable: the transaction stream cannot be unpacked"};
    long long changed = std::max({x.time.creat, x.time.auth, x.time.ready, x.time.done});
    return {x.data.retail.invoice, "", changed};
}

int cmd_check(Ctx &c, const Args &) {
    bx_spool sp = bx_session_spool(c.s);
    size_t items = 0;
    std::vector<bx_spool_finding> found = bx_spool_check(sp, judge, &items);
    for (const bx_spool_finding &f : found) emit(c, {{"queue", f.queue}, {"file", f.file}, {"problem", f.problem}});
    emit(c, {{"queues", std::to_string(sp.queues.size()), true},
             {"items", std::to_string(items), true},
             {"findings", std::to_string(found.size()), true}});
    return found.empty() ? kExitOk : kExitBad;
}

int cmd_repair(Ctx &c, const Args &) {
    bx_spool sp = bx_session_spool(c.s);
    int changes = 0;
    int failures = bx_spool_repair(sp, judge, [&](const bx_spool_finding &f) {
        Fields line;
        if (!f.queue.empty()) line.push_back({"queue", f.queue});
        if (!f.file.empty()) line.push_back({"file", f.file});
        if (f.file.empty() || f.failed) {
            line.push_back({"problem", f.problem});
        } else {
            changes++;
            line.push_back({"change", f.problem});
        }
        emit(c, line);
    });
    emit(c, {{"queues", std::to_string(sp.queues.size()), true},
             {"changes", std::to_string(changes), true},
             {"failures", std::to_string(failures), true}});
    return failures ? kExitBad : kExitOk;
}

// --- Command line ---------------------------------------------------------------------

struct Command {
    const char *name;
    size_t min_args, max_args;
    int (*run)(Ctx &, const Args &);          // or:
    int (*request)(bx_session, const char *); // an operation on one invoice
    bool (*valid)(const Args &);              // null: any words
};

bool valid_count(const Args &a) {
    for (const std::string &w : a)
        if (!one_state(w) && bx_str2stat(w.c_str()) != BX_STAT_ALL) return false;
    return true;
}
bool valid_state(const Args &a) { return one_state(a[0]) != 0; }
bool valid_report(const Args &a) { return bx_str2rep(a[0].c_str()) != BX_REP_UNKNOWN; }
bool valid_field(const Args &a) { return bx_str2arg(a[1].c_str()) != BX_ARG_UNKNOWN; }

constexpr Command kCommands[] = {
    {"status", 1, 1, cmd_status, nullptr, nullptr},
    {"count", 0, 8, cmd_count, nullptr, valid_count},
    {"list", 1, 1, cmd_list, nullptr, valid_state},
    {"show", 2, 2, cmd_show, nullptr, valid_state},
    {"report", 1, 1, cmd_report, nullptr, valid_report},
    {"command", 1, 2, cmd_command, nullptr, nullptr},
    {"add", 3, 3, cmd_add, nullptr, valid_field},
    {"check", 0, 0, cmd_check, nullptr, nullptr},
    {"repair", 0, 0, cmd_repair, nullptr, nullptr},
    {"new", 1, 1, nullptr, bx_new, nullptr},
    {"auth", 1, 1, nullptr, bx_auth, nullptr},
    {"sale", 1, 1, nullptr, bx_sale, nullptr},
    {"return", 1, 1, nullptr, bx_return, nullptr},
    {"reverse", 1, 1, nullptr, bx_reverse, nullptr},
    {"void", 1, 1, nullptr, bx_void, nullptr},
    {"delete", 1, 1, nullptr, bx_delete, nullptr},
};

int usage_error() {
    fputs(kUsage, stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char **argv) {
    Ctx c;
    bool verbose = false;
    int i = 1;
    for (; i < argc && argv[i][0] == '-'; i++) {
        std::string_view a = argv[i];
        if (a == "-h" || a == "--help") {
            fputs(kUsage, stdout);
            return kExitOk;
        } else if (a == "--json") {
            c.json = true;
        } else if (a == "-v" || a == "--verbose") {
            verbose = true;
        } else if ((a == "-c" || a == "--config") && i + 1 < argc && c.config.empty() && *argv[i + 1]) {
            c.config = argv[++i];
        } else {
            return usage_error();
        }
    }
    if (c.config.empty() || i == argc) return usage_error();
    const Command *cmd = nullptr;
    for (const Command &k : kCommands)
        if (strcmp(k.name, argv[i]) == 0) cmd = &k;
    Args args(argv + i + 1, argv + argc);
    if (!cmd || args.size() < cmd->min_args || args.size() > cmd->max_args || (cmd->valid && !cmd->valid(args)))
        return usage_error();

    if (verbose) qor_log_set_sink(brixtool::echo_log, const_cast<char *>(kProg));
    c.s = bx_init(c.config.c_str());
    if (!c.s) return fail(c.config, bx_initerror);
    int rc = cmd->request ? emit_result(c, cmd->request(c.s, args[0].c_str())) : cmd->run(c, args);
    fflush(stdout);
    bx_done(c.s);
    return rc;
}
