// brix: the operator's tool over the library, for scripting and support.
//
// It opens a session on a merchant configuration as bx_init does and then
// either answers through the script operations (status, count, list,
// report, command and the requests), shows a stored record, or looks
// below them at the spool files: "check" reports what is damaged, "repair"
// rebuilds each queue's entry and index files (bx_queue_sanitize) and
// reports what changed; neither ever removes an item file.
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
#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
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
#include "queue/qor_fdlib.h"
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
    "  repair                     rebuild each queue's entry and index files\n"
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
    int count = bx_queue_count(q);
    for (int pos = 1; pos <= count; pos++) {
        brixtool::Item item(q, bx_queue_nth_item(q, static_cast<unsigned>(pos)));
        _bx_xaction x;
        if (!item || bx_api_fetch(q, item.get(), &x) != 1) {
            emit(c, {{"queue", bx_stat2str(status)},
                     {"position", std::to_string(pos), true},
                     {"problem", item ? "item cannot be unpacked" : "item cannot be read"}});
            continue;
        }
        bx_status(c.s, x.data.retail.invoice);
        emit_answer(c, c.s->apitext);
    }
    return kExitOk;
}

// Control characters as \xNN, so that a value stays on its line.
std::string printable(std::string_view v) {
    std::string out;
    for (unsigned char ch : v) {
        if (ch < 0x20 || ch == 0x7F) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02X", ch);
            out += esc;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

int cmd_show(Ctx &c, const Args &a) {
    int status = one_state(a[0]);
    bx_queue q = bx_api_queue(c.s, status, kProg);
    if (!q) return fail(c.config, "queue '" + a[0] + "' is not open");
    brixtool::Item item(q, bx_queue_find_item(q, a[1].c_str()));
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

// --- check ---------------------------------------------------------------------------

// An item file as stored: key line, size line, data.
struct ItemFile {
    bool key_ok = false;
    std::string key;
    std::string data;
    std::string problem;      // empty: whole and readable
};

constexpr size_t kLineMax = 100;            // key and size lines, newline included
constexpr size_t kFileMax = 64 << 20;       // larger files are not read

bool read_whole(const std::string &path, std::string &out, std::string &err) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        err = strerror(errno);
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

ItemFile read_item(const std::string &path, off_t size) {
    ItemFile f;
    std::string bytes, err;
    if (size > static_cast<off_t>(kFileMax)) {
        f.problem = "unreadable: " + std::to_string(size) + " bytes";
        return f;
    }
    if (!read_whole(path, bytes, err)) {
        f.problem = "unreadable: " + err;
        return f;
    }
    size_t nl = bytes.find('\n');
    if (nl == std::string::npos || nl >= kLineMax) {
        f.problem = bytes.empty() ? "torn: empty item file" : "torn or unreadable: no key line";
        return f;
    }
    f.key = bytes.substr(0, nl);
    f.key_ok = true;
    size_t nl2 = bytes.find('\n', nl + 1);
    if (nl2 == std::string::npos || nl2 - nl > kLineMax) {
        f.problem = "torn: no size line";
        return f;
    }
    std::string line = bytes.substr(nl + 1, nl2 - nl - 1);
    if (line.empty() || line.size() > 10 || line.find_first_not_of("0123456789") != std::string::npos ||
        std::stoll(line) > INT_MAX) {
        f.problem = "unreadable: bad size line '" + printable(line) + "'";
        return f;
    }
    size_t declared = std::stoul(line);
    f.data = bytes.substr(nl2 + 1);
    if (f.data.size() < declared)
        f.problem = "torn: declares " + line + " data bytes, holds " + std::to_string(f.data.size());
    else if (f.data.size() > declared)
        f.problem = "holds " + std::to_string(f.data.size() - declared) + " bytes beyond its declared size";
    f.data.resize(std::min(declared, f.data.size()));
    return f;
}

// A decimal name without leading zeros that fits 32 bits: an item number.
bool item_number(std::string_view name, uint32_t &n) {
    if (name.empty() || name.size() > 10 || name[0] == '0' ||
        name.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    unsigned long long v = std::stoull(std::string(name));
    if (v > UINT32_MAX) return false;
    n = static_cast<uint32_t>(v);
    return true;
}

// An index value file: "%d\n".  False when it is not in that form.
bool index_value(const std::string &bytes, long &value) {
    if (bytes.size() < 2 || bytes.size() > 12 || bytes.back() != '\n') return false;
    std::string digits = bytes.substr(0, bytes.size() - 1);
    size_t start = digits[0] == '-' ? 1 : 0;
    if (start == digits.size() || digits.find_first_not_of("0123456789", start) != std::string::npos)
        return false;
    value = std::stol(digits);
    return value >= INT_MIN && value <= INT_MAX;
}

// The key of an entry file name "i_<escaped key>", or false.
bool entry_key(std::string_view name, std::string &key) {
    key.clear();
    for (size_t i = 2; i < name.size(); i++) {
        if (name[i] != '%') {
            key += name[i];
            continue;
        }
        if (i + 2 >= name.size() || !isxdigit(static_cast<unsigned char>(name[i + 1])) ||
            !isxdigit(static_cast<unsigned char>(name[i + 2])))
            return false;
        key += static_cast<char>(std::stoi(std::string(name.substr(i + 1, 2)), nullptr, 16));
        i += 2;
    }
    return !key.empty();
}

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) out.push_back(e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

class Checker {
public:
    explicit Checker(Ctx &c) : c_(c), uid_(geteuid()) {}

    int run() {
        for (const brixtool::QueueRef &q : brixtool::queues_of(c_.s)) scan(q);
        duplicates();
        emit(c_, {{"queues", std::to_string(brixtool::queues_of(c_.s).size()), true},
                  {"items", std::to_string(items_), true},
                  {"findings", std::to_string(findings_), true}});
        return findings_ ? kExitBad : kExitOk;
    }

private:
    void finding(const std::string &queue, const std::string &file, const std::string &problem) {
        findings_++;
        emit(c_, {{"queue", queue}, {"file", file}, {"problem", problem}});
    }

    // Owner and mode of one file; false when it cannot be examined.
    bool node(const char *queue, const std::string &name, const std::string &path, struct stat &st,
              bool dir, mode_t mode, bool exact) {
        if (lstat(path.c_str(), &st) != 0) {
            finding(queue, name, std::string("cannot be examined: ") + strerror(errno));
            return false;
        }
        if (dir ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
            finding(queue, name, dir ? "not a directory" : "not a regular file");
            return false;
        }
        mode_t have = st.st_mode & 07777;
        if (exact ? have != mode : (have & mode) != mode) {
            char text[64];
            snprintf(text, sizeof text, "mode %04o, expected %s%04o", static_cast<unsigned>(have),
                     exact ? "" : "at least ", static_cast<unsigned>(mode));
            finding(queue, name, text);
        }
        if (st.st_uid != uid_) {
            struct passwd *pw = getpwuid(uid_);
            finding(queue, name,
                    "owner uid " + std::to_string(st.st_uid) + ", expected " + std::to_string(uid_) +
                        (pw ? std::string(" (") + pw->pw_name + ")" : ""));
        }
        return true;
    }

    void scan(const brixtool::QueueRef &qr) {
        if (!qr.q) return finding(qr.name, "", "queue cannot be opened");
        const std::string dir = qr.q->qdpath;
        const bool transactions = qr.status != BX_STAT_NONE;
        struct stat st;
        if (!node(qr.name, "", dir, st, true, 0700, true)) return;

        // The third index lock, shared: no put or delete runs in this queue
        // while it is read.
        bool locked = qor_fdlib_lockfd(qr.q->dblockfd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT) == 0;
        std::map<uint32_t, ItemFile> items;
        std::map<std::string, std::pair<std::string, long>> entries;  // key -> file, value
        std::map<std::string, long> indexes;                          // ".index", ".head"
        for (const std::string &name : names_in(dir)) {
            std::string path = dir + "/" + name;
            uint32_t n;
            if (name == ".index" || name == ".head") {
                if (!node(qr.name, name, path, st, false, 0600, true)) continue;
                std::string bytes, err;
                long v;
                if (!read_whole(path, bytes, err) || !index_value(bytes, v))
                    finding(qr.name, name, "not an index value: '" + printable(bytes.substr(0, 40)) + "'");
                else
                    indexes[name] = v;
            } else if (name == ".lock" || name == ".dblock") {
                node(qr.name, name, path, st, false, 0600, false);
            } else if (item_number(name, n)) {
                if (node(qr.name, name, path, st, false, 0600, true)) items[n] = read_item(path, st.st_size);
            } else if (name.size() > 5 && name.compare(name.size() - 5, 5, ".lock") == 0 &&
                       item_number(std::string_view(name).substr(0, name.size() - 5), n)) {
                node(qr.name, name, path, st, false, 0600, true);
            } else if (name.compare(0, 2, "i_") == 0) {
                std::string key, bytes, err;
                long v = 0;
                if (!node(qr.name, name, path, st, false, 0600, true)) continue;
                if (!entry_key(name, key))
                    finding(qr.name, name, "not an entry file name");
                else if (!read_whole(path, bytes, err) || !index_value(bytes, v) || v <= 0)
                    finding(qr.name, name, "entry holds no item number: '" + printable(bytes.substr(0, 40)) + "'");
                else
                    entries[key] = {name, v};
            } else {
                finding(qr.name, name, "unexpected file");
            }
        }
        if (locked) qor_fdlib_unlockfd(qr.q->dblockfd);
        items_ += items.size();

        for (const char *name : {".index", ".head"})
            if (!exists(dir + "/" + name)) finding(qr.name, name, "missing");
        bool ranged = indexes.count(".index") && indexes.count(".head");
        long max = ranged ? indexes[".index"] : 0, head = ranged ? indexes[".head"] : 0;
        if (ranged && head > max)
            finding(qr.name, ".head", "first index " + std::to_string(head) + " above max index " +
                                          std::to_string(max));

        for (const auto &[key, entry] : entries) {
            auto it = items.find(static_cast<uint32_t>(entry.second));
            std::string number = std::to_string(entry.second);
            if (it == items.end())
                finding(qr.name, entry.first, "entry names missing item " + number);
            else if (it->second.key_ok && it->second.key != key)
                finding(qr.name, entry.first,
                        "entry names item " + number + ", which holds key '" + printable(it->second.key) + "'");
        }
        for (const auto &[n, f] : items) {
            std::string name = std::to_string(n);
            if (ranged && n > max)
                finding(qr.name, name, "item number above .index " + std::to_string(max) +
                                           ": a later put collides with it");
            if (ranged && n < head)
                finding(qr.name, name, "item number below .head " + std::to_string(head) +
                                           ": counts and walks miss it");
            if (!f.problem.empty()) finding(qr.name, name, f.problem);
            if (!f.key_ok) continue;
            auto entry = entries.find(f.key);
            if (entry == entries.end())
                finding(qr.name, name, "item of key '" + printable(f.key) + "' has no entry file");
            else if (entry->second.second != static_cast<long>(n))
                finding(qr.name, name, "item of key '" + printable(f.key) + "' is shadowed: its entry names item " +
                                           std::to_string(entry->second.second));
            if (!transactions || !f.problem.empty()) continue;
            _bx_xaction x;
            if (bx_xaction_unpack(f.data.data(), &x, static_cast<int>(f.data.size())) != 1) {
                finding(qr.name, name, "unreadable: the transaction stream cannot be unpacked");
                continue;
            }
            if (f.key != x.data.retail.invoice)
                finding(qr.name, name, "stream invoice '" + std::string(x.data.retail.invoice) +
                                           "' differs from key '" + printable(f.key) + "'");
            where_[f.key].push_back(qr.status);
        }
    }

    static bool exists(const std::string &path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    // An invoice seen in several queues is looked for again under each
    // queue's lock in turn, so that a move under way is not reported.
    void duplicates() {
        for (const auto &[key, statuses] : where_) {
            if (statuses.size() < 2) continue;
            std::string queues;
            for (int status : statuses) {
                bx_queue q = bx_api_queue(c_.s, status, kProg);
                bool present = !brixtool::is_invoice(key);
                if (!present) {
                    bx_queue_lock lock(q);
                    brixtool::Item item(q, bx_queue_find_item(q, key.c_str()));
                    present = static_cast<bool>(item);
                }
                if (present) queues += (queues.empty() ? "" : ",") + std::string(bx_stat2str(status));
            }
            if (queues.find(',') != std::string::npos)
                finding(queues, "i_" + key, "invoice " + printable(key) + " is in more than one queue");
        }
    }

    Ctx &c_;
    uid_t uid_;
    size_t items_ = 0;
    int findings_ = 0;
    std::map<std::string, std::vector<int>> where_;
};

int cmd_check(Ctx &c, const Args &) { return Checker(c).run(); }

// --- repair ---------------------------------------------------------------------------

// The files a rebuild rewrites: ".index", ".head" and the entry files,
// each with its value.
std::map<std::string, std::string> rebuilt_files(const std::string &dir) {
    std::map<std::string, std::string> out;
    for (const std::string &name : names_in(dir)) {
        if (name != ".index" && name != ".head" && name.compare(0, 2, "i_") != 0) continue;
        std::string bytes, err;
        read_whole(dir + "/" + name, bytes, err);
        while (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
        out[name] = printable(bytes);
    }
    return out;
}

// Runs fn with standard output going into `printed`.
int captured(const std::function<int()> &fn, std::string &printed) {
    fflush(stdout);
    FILE *tmp = tmpfile();
    int saved = tmp ? dup(STDOUT_FILENO) : -1;
    if (saved < 0 || dup2(fileno(tmp), STDOUT_FILENO) < 0) {
        if (saved >= 0) close(saved);
        if (tmp) fclose(tmp);
        return fn();
    }
    int rc = fn();
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, tmp)) > 0) printed.append(buf, n);
    fclose(tmp);
    return rc;
}

int cmd_repair(Ctx &c, const Args &) {
    int changes = 0, failures = 0;
    auto queues = brixtool::queues_of(c.s);
    for (const brixtool::QueueRef &qr : queues) {
        if (!qr.q) {
            failures++;
            emit(c, {{"queue", qr.name}, {"problem", "queue cannot be opened"}});
            continue;
        }
        std::string dir = qr.q->qdpath, printed;
        auto before = rebuilt_files(dir);
        int rc;
        {
            bx_queue_lock lock(qr.q);
            rc = captured([&] { return bx_queue_sanitize(qr.q); }, printed);
        }
        auto after = rebuilt_files(dir);
        std::istringstream lines(printed);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty()) emit(c, {{"queue", qr.name}, {"problem", printable(line)}});
        std::set<std::string> names;
        for (const auto &f : before) names.insert(f.first);
        for (const auto &f : after) names.insert(f.first);
        for (const std::string &name : names) {
            auto b = before.find(name), a = after.find(name);
            std::string change;
            if (a == after.end())
                change = "removed (was " + b->second + ")";
            else if (b == before.end())
                change = "added: " + a->second;
            else if (a->second != b->second)
                change = b->second + " -> " + a->second;
            else
                continue;
            changes++;
            emit(c, {{"queue", qr.name}, {"file", name}, {"change", change}});
        }
        failures += rc != 0;
    }
    emit(c, {{"queues", std::to_string(queues.size()), true},
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
