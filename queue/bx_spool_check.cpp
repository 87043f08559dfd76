// bx_spool_check: the operator's check and repair of a spool.  See
// bx_spool.h.  Both read the spool's files through the queue store's own
// readers (bx_queue_files.h), so they judge torn, orphan and complete as
// the library does.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <set>

#include "queue/bx_queue_files.h"
#include "queue/bx_spool.h"
#include "queue/qor_fdlib_inline.h"
#include "support/qor_log.h"

using namespace bxq;

namespace {

constexpr size_t kFileMax = 64 << 20;  // larger item files are not read

// A file of a queue directory, read whole (small files only).
bool read_file(bx_queue q, const std::string &name, std::string *out) {
    Fd fd(qor_fdlib::openat(q->qdirfd, name.c_str(), 0, 0));
    return fd.ok() && read_all(fd.get(), out);
}

// What an item file holds, as the library reads it.
struct ItemFile {
    ItemForm form = ItemForm::no_key;
    std::string key;           // when it has a key line
    std::string data;          // the data bytes present (at most the declared size)
    std::string problem;       // empty: whole
};

ItemFile read_item_file(bx_queue q, const std::string &name, off_t length) {
    ItemFile f;
    std::string bytes;
    if (length > static_cast<off_t>(kFileMax)) {
        f.problem = "unreadable: " + std::to_string(length) + " bytes";
        return f;
    }
    if (!read_file(q, name, &bytes)) {
        f.problem = std::string("unreadable: ") + strerror(errno);
        return f;
    }
    ParsedItem p;
    f.form = parse_item(bytes.data(), bytes.size(), &p);
    f.key = std::string(p.key);
    f.data = std::string(p.data);
    switch (f.form) {
    case ItemForm::whole:
        if (p.extra) f.problem = "holds " + std::to_string(p.extra) + " bytes beyond its declared size";
        break;
    case ItemForm::no_key:
        f.problem = bytes.empty() ? "torn: empty item file" : "torn or unreadable: no key line";
        break;
    case ItemForm::short_data:
        f.problem = "torn: declares " + std::to_string(p.size) + " data bytes, holds " + std::to_string(p.data.size());
        break;
    default: {
        std::string_view rest(bytes);
        rest.remove_prefix(std::min(rest.size(), p.key.size() + 1));
        f.problem = std::string(item_form_text(f.form));
        if (f.form == ItemForm::bad_size)
            f.problem += " '" + printable(rest.substr(0, std::min<size_t>(rest.find('\n'), 40))) + "'";
    }
    }
    return f;
}

// One queue as it lies on disk.
struct QueueScan {
    std::map<uint32_t, ItemFile> items;
    std::map<std::string, std::pair<std::string, long>> entries;  // key -> file, value
    std::map<std::string, long> indexes;                          // ".index", ".head" that hold a value
    std::set<std::string> seen;                                   // ".index", ".head" present
};

class Checker {
public:
    Checker(const bx_spool &sp, const bx_spool_reader &read) : sp_(sp), read_(read), uid_(geteuid()) {}

    std::vector<bx_spool_finding> run(size_t *items) {
        for (const bx_spool_queue &q : sp_.queues) check(q);
        duplicates();
        journal();
        if (items) *items = items_;
        return std::move(findings_);
    }

private:
    void finding(const std::string &queue, const std::string &file, const std::string &problem) {
        findings_.push_back({queue, file, problem});
    }

    // Owner and mode of one file; false when it cannot be examined.
    bool node(const char *queue, const std::string &name, const struct stat &st, bool dir, mode_t mode,
              bool exact) {
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
        if (st.st_uid != uid_)
            finding(queue, name, "owner uid " + std::to_string(st.st_uid) + ", expected " + std::to_string(uid_) +
                                     owner_name());
        return true;
    }

    std::string owner_name() const {
        char buf[256];
        struct passwd pw, *found = nullptr;
        if (getpwuid_r(uid_, &pw, buf, sizeof buf, &found) == 0 && found) return std::string(" (") + found->pw_name + ")";
        return "";
    }

    void scan(const bx_spool_queue &sq, QueueScan &scan) {
        bx_queue q = sq.q;
        std::vector<std::string> names;
        if (!list_names(q->qdpath, &names)) {
            finding(sq.name, "", std::string("cannot be listed: ") + strerror(errno));
            return;
        }
        for (const std::string &name : names) {
            struct stat st;
            if (qor_fdlib::fstatat(q->qdirfd, name.c_str(), &st) != 0) {
                if (errno != ENOENT) finding(sq.name, name, std::string("cannot be examined: ") + strerror(errno));
                continue;
            }
            uint32_t n;
            std::string key, bytes;
            int v;
            if (name == ".index" || name == ".head") {
                scan.seen.insert(name);
                if (!node(sq.name, name, st, false, 0600, true)) continue;
                if (!read_file(q, name, &bytes) || !parse_index(bytes.data(), bytes.size(), &v))
                    finding(sq.name, name, "not an index value: '" + printable(bytes.substr(0, 40)) + "'");
                else
                    scan.indexes[name] = v;
            } else if (name == ".lock" || name == ".dblock") {
                node(sq.name, name, st, false, 0600, false);
            } else if (item_number(name, &n)) {
                if (node(sq.name, name, st, false, 0600, true)) scan.items[n] = read_item_file(q, name, st.st_size);
            } else if (item_lock_number(name, &n)) {
                // One of an item gone harms nothing (repair removes it).
                node(sq.name, name, st, false, 0600, true);
            } else if (name.compare(0, 2, "i_") == 0) {
                if (!node(sq.name, name, st, false, 0600, true)) continue;
                if (!entry_key(name, &key))
                    finding(sq.name, name, "not an entry file name");
                else if (!read_file(q, name, &bytes))
                    finding(sq.name, name, std::string("cannot be read: ") + strerror(errno));
                // An empty entry (a store cut short just after making it)
                // names nothing and finds nothing: no damage.
                else if (!bytes.empty() && (!parse_index(bytes.data(), bytes.size(), &v) || v <= 0))
                    finding(sq.name, name, "entry holds no item number: '" + printable(bytes.substr(0, 40)) + "'");
                else if (!bytes.empty())
                    scan.entries[key] = {name, v};
            } else {
                finding(sq.name, name, "unexpected file");
            }
        }
    }

    void check(const bx_spool_queue &sq) {
        if (!sq.q) return finding(sq.name, "", "queue cannot be opened");
        bx_queue q = sq.q;
        struct stat st;
        if (qor_fdlib_fstat(q->qdirfd, &st) != 0 || !node(sq.name, "", st, true, 0700, true)) return;

        // The third index lock, shared: no put or delete runs in this queue
        // while it is read.
        QueueScan s;
        {
            bool locked = qor_fdlib::lockfd(q->dblockfd, QOR_FDLIB_SHARED, QOR_FDLIB_WAIT) == 0;
            if (!locked) finding(sq.name, ".dblock", std::string("cannot be locked: ") + strerror(errno));
            scan(sq, s);
            if (locked) qor_fdlib::unlockfd(q->dblockfd);
        }
        items_ += s.items.size();

        for (const char *name : {".index", ".head"})
            if (!s.seen.count(name)) finding(sq.name, name, "missing");
        bool ranged = s.indexes.count(".index") && s.indexes.count(".head");
        long max = ranged ? s.indexes[".index"] : 0, head = ranged ? s.indexes[".head"] : 0;
        if (ranged && head > max)
            finding(sq.name, ".head", "first index " + std::to_string(head) + " above max index " + std::to_string(max));

        // An entry that names no item finds nothing and is passed over by
        // the next put of its key: a delete cut short between removing the
        // item and its entry leaves one by design, and it is no damage.
        for (const auto &[key, entry] : s.entries) {
            auto it = s.items.find(static_cast<uint32_t>(entry.second));
            std::string number = std::to_string(entry.second);
            if (it != s.items.end() && it->second.form == ItemForm::whole && it->second.key != key)
                finding(sq.name, entry.first,
                        "entry names item " + number + ", which holds key '" + printable(it->second.key) + "'");
        }
        for (auto &[n, f] : s.items) {
            std::string name = std::to_string(n);
            if (ranged && n > max)
                finding(sq.name, name, "item number above .index " + std::to_string(max) + ": a later put collides with it");
            if (ranged && n < head)
                finding(sq.name, name, "item number below .head " + std::to_string(head) + ": counts and walks miss it");
            if (!f.problem.empty()) finding(sq.name, name, f.problem);
            if (f.form == ItemForm::no_key) continue;
            auto entry = s.entries.find(f.key);
            if (entry == s.entries.end())
                finding(sq.name, name, "item of key '" + printable(f.key) + "' has no entry file");
            else if (entry->second.second != static_cast<long>(n))
                finding(sq.name, name, "item of key '" + printable(f.key) + "' is shadowed: its entry names item " +
                                           std::to_string(entry->second.second));
            if (!sq.transactions || f.form != ItemForm::whole) continue;
            bx_spool_content content = read_(f.data.data(), static_cast<int>(f.data.size()));
            if (!content.problem.empty()) {
                finding(sq.name, name, content.problem);
                continue;
            }
            if (f.key != content.invoice)
                finding(sq.name, name, "stream invoice '" + printable(content.invoice) + "' differs from key '" +
                                           printable(f.key) + "'");
            where_[f.key].push_back(&sq);
        }
    }

    // An invoice seen in several queues is looked for again under each
    // queue's lock in turn, so that a move under way is not reported.
    void duplicates() {
        for (const auto &[key, queues] : where_) {
            if (queues.size() < 2) continue;
            std::string names;
            int present = 0;
            Probe probe(key.c_str());
            for (const bx_spool_queue *sq : queues) {
                bx_queue_lock lock(sq->q);
                if (lock.held() && probe.in(sq->q) == 1) names += (present++ ? "," : "") + std::string(sq->name);
            }
            if (present > 1) finding(names, "i_" + escape_key(key), "invoice " + printable(key) + " is in more than one queue");
        }
    }

    // Records of changes whose process is gone (a live one holds its lock).
    void journal() {
        std::vector<bx_journal_record> records;
        if (!bx_spool_journal(sp_, &records)) return;
        std::string dir = sp_.dir + "/" + kJournalDir;
        for (const auto &[name, jn] : records) {
            if (!jn.kind) {
                finding("journal", name, "unexpected file");
                continue;
            }
            Fd fd(qor_fdlib_open((dir + "/" + name).c_str(), QOR_FDLIB_RDWR, 0));
            int type = 0;
            if (!fd.ok() || qor_fdlib_getlockfd(fd.get(), &type) != -1) continue;  // still at work
            finding("journal", name, "unfinished change of a process that is gone (settled by the next session)");
        }
    }

    const bx_spool &sp_;
    const bx_spool_reader &read_;
    uid_t uid_;
    size_t items_ = 0;
    std::vector<bx_spool_finding> findings_;
    std::map<std::string, std::vector<const bx_spool_queue *>> where_;
};

// --- Repair ----------------------------------------------------------------------

// The files a rebuild rewrites: ".index", ".head" and the entry files,
// each with its value.
std::map<std::string, std::string> rebuilt_files(bx_queue q) {
    std::map<std::string, std::string> out;
    std::vector<std::string> names;
    if (!list_names(q->qdpath, &names)) return out;
    for (const std::string &name : names) {
        if (name != ".index" && name != ".head" && name.compare(0, 2, "i_") != 0) continue;
        std::string bytes;
        read_file(q, name, &bytes);
        while (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
        out[name] = printable(bytes);
    }
    return out;
}

class Repairer {
public:
    Repairer(const bx_spool &sp, const bx_spool_reader &read, const std::function<void(const bx_spool_finding &)> &say)
        : sp_(sp), read_(read), say_(say) {}

    int run() {
        int settled = bx_spool_recover(sp_);
        if (settled < 0) failures_++;
        if (settled > 0) say_({"", "journal", "settled " + std::to_string(settled) + " unfinished changes"});
        // Every queue lock, in one fixed order, before anything changes:
        // whoever holds one queue lock takes a second only without waiting,
        // so waiting here closes no cycle.
        std::deque<bx_queue_lock> held;
        for (const bx_spool_queue &sq : sp_.queues) {
            if (!sq.q) {
                failures_++;
                say_({sq.name, "", "queue cannot be opened"});
                continue;
            }
            if (!held.emplace_back(sq.q).held()) {
                say_({sq.name, ".lock", std::string("cannot be locked: ") + strerror(errno) + "; nothing repaired",
                      true});
                return failures_ + 1;
            }
        }
        for (const bx_spool_queue &sq : sp_.queues)
            if (sq.q) within(sq);
        across();
        for (const bx_spool_queue &sq : sp_.queues)
            if (sq.q) rebuild(sq);
        return failures_;
    }

private:
    void quarantine(const bx_spool_queue &sq, uint32_t n, const char *why) {
        std::string where;
        if (quarantine_item(sq.q, n, why, &where)) {
            say_({sq.name, std::to_string(n), std::string("quarantined (") + why + ") as " + where});
        } else {
            failures_++;
            say_({sq.name, std::to_string(n), std::string("cannot be quarantined: ") + strerror(errno), true});
        }
    }

    // Within one queue: torn items go, and of several items under one key
    // only the one its entry names (else the newest) stays.
    void within(const bx_spool_queue &sq) {
        bx_queue q = sq.q;
        std::vector<std::string> names;
        if (!list_names(q->qdpath, &names)) {
            failures_++;
            return;
        }
        std::map<std::string, std::vector<std::pair<uint32_t, long long>>> by_key;  // number, changed
        std::set<uint32_t> numbers, locks;
        for (const std::string &name : names) {
            uint32_t n;
            if (item_lock_number(name, &n)) locks.insert(n);
            if (!item_number(name, &n)) continue;
            struct stat st;
            if (qor_fdlib::fstatat(q->qdirfd, name.c_str(), &st) != 0) continue;
            ItemFile f = read_item_file(q, name, st.st_size);
            if (f.form != ItemForm::whole) {
                quarantine(sq, n, "torn");
                continue;
            }
            long long changed = 0;
            if (sq.transactions) {
                bx_spool_content c = read_(f.data.data(), static_cast<int>(f.data.size()));
                if (!c.problem.empty()) {
                    quarantine(sq, n, "unreadable");
                    continue;
                }
                changed = c.changed;
            }
            by_key[f.key].push_back({n, changed});
        }
        for (auto &[key, ns] : by_key) {
            // The one the entry names stays, else the newest.
            auto keep = std::max_element(ns.begin(), ns.end());
            if (ns.size() > 1) {
                int named = entry_value(q, key.c_str());
                for (auto it = ns.begin(); it != ns.end(); ++it)
                    if (it->first == static_cast<uint32_t>(named)) keep = it;
            }
            for (const auto &[n, changed] : ns)
                if (n != keep->first) quarantine(sq, n, "duplicate");
            numbers.insert(keep->first);
            if (sq.transactions) changed_[key].push_back({&sq, keep->first, keep->second});
        }
        for (uint32_t n : locks) {
            if (numbers.count(n)) continue;
            std::string name = std::to_string(n) + ".lock";
            if (qor_fdlib::unlinkat(q->qdirfd, name.c_str(), 0) == 0 || errno == ENOENT) {
                say_({sq.name, name, "removed (lock file of a missing item)"});
            } else {
                failures_++;
                say_({sq.name, name, std::string("cannot be removed: ") + strerror(errno), true});
            }
        }
    }

    // Across queues: of the copies of one invoice, the one most recently
    // changed stays (on a tie, the one the status search finds first).
    void across() {
        for (auto &[key, copies] : changed_) {
            if (copies.size() < 2) continue;
            auto keep = std::max_element(copies.begin(), copies.end(), [](const Copy &a, const Copy &b) {
                return a.changed != b.changed ? a.changed < b.changed : a.sq->search > b.sq->search;
            });
            for (const Copy &c : copies)
                if (&c != &*keep) quarantine(*c.sq, c.n, "duplicate");
            say_({keep->sq->name, std::to_string(keep->n), "kept as the one copy of invoice " + printable(key)});
        }
    }

    void rebuild(const bx_spool_queue &sq) {
        bx_queue q = sq.q;
        auto before = rebuilt_files(q);
        int rc = sanitize(q, [&](const std::string &line) { say_({sq.name, "", printable(line)}); });
        auto after = rebuilt_files(q);
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
            say_({sq.name, name, change});
        }
        failures_ += rc != 0;
    }

    struct Copy {
        const bx_spool_queue *sq;
        uint32_t n;
        long long changed;
    };
    const bx_spool &sp_;
    const bx_spool_reader &read_;
    const std::function<void(const bx_spool_finding &)> &say_;
    std::map<std::string, std::vector<Copy>> changed_;
    int failures_ = 0;
};

}  // namespace

std::vector<bx_spool_finding> bx_spool_check(const bx_spool &sp, const bx_spool_reader &read, size_t *items) {
    return Checker(sp, read).run(items);
}

int bx_spool_repair(const bx_spool &sp, const bx_spool_reader &read,
                    const std::function<void(const bx_spool_finding &)> &say) {
    return Repairer(sp, read, say).run();
}
