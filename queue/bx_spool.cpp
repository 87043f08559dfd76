// bx_spool: moves between queues and the recovery of the journal.  See
// bx_spool.h; the check and the repair are in bx_spool_check.cpp.
#include "queue/bx_spool.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "queue/bx_queue_files.h"
#include "queue/qor_fdlib_inline.h"
#include "support/qor_log.h"

using namespace bxq;

namespace {

// Pauses between tries of a busy queue lock: they double from 1 ms up to
// 32 ms (on a network file system every try is a request to the servers,
// and many processes trying often would swamp them), for ten seconds of
// time passed in all (a try itself takes a round trip there).
constexpr std::chrono::nanoseconds kFirstPause = std::chrono::milliseconds(1);
constexpr std::chrono::nanoseconds kLongestPause = std::chrono::milliseconds(32);
constexpr std::chrono::seconds kBusyBound(10);

bool same_file(const struct stat &a, const struct stat &b) { return a.st_ino == b.st_ino && a.st_dev == b.st_dev; }

// A journal record, held under its exclusive record lock while the change
// it records runs (or while a recovery settles it).
class Record {
public:
    Record(int journalfd, std::string name) : journalfd_(journalfd), name_(std::move(name)) {}
    Record(const Record &) = delete;
    Record &operator=(const Record &) = delete;

    // Creates the record (or takes up one a dead process left under the
    // same name) and locks it; flushed to disk when `flush`.
    bool create(bool flush) {
        fd_.reset(qor_fdlib::openat(journalfd_, name_.c_str(), QOR_FDLIB_CREATE | QOR_FDLIB_RDWR, 0600));
        if (!fd_.ok() || qor_fdlib::lockfd(fd_.get(), QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) != 0) {
            qor_log_errf(QOR_LOG_NONFATAL, "Could not write journal record '%s'", name_.c_str());
            return false;
        }
        if (flush && qor_fdlib::fsync(journalfd_) != 0) {
            qor_log_errf(QOR_LOG_NONFATAL, "Could not flush journal record '%s'", name_.c_str());
            drop();
            return false;
        }
        return true;
    }

    // Whether a record found in the journal may be left by a process that
    // died: it is there and no process holds its lock.  Only asked, never
    // locked: a change creates its record and locks it a moment later, and
    // a lock taken in between would make that change fail.
    bool idle() {
        fd_.reset(qor_fdlib::openat(journalfd_, name_.c_str(), QOR_FDLIB_RDWR, 0));
        int type = 0;
        return fd_.ok() && qor_fdlib_getlockfd(fd_.get(), &type) == -1;
    }

    // Takes up an idle record, holding the lock under which such a change
    // runs (the queue's index locks for a store, the source queue's lock
    // for a move): its process, if alive, has finished meanwhile and
    // removed it.  False when it is gone or another recovery has it.
    bool take_up() {
        if (qor_fdlib::lockfd(fd_.get(), QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) != 0) return false;
        // The lock is also granted once its owner has removed the record and
        // closed it: only a record still under its name is unfinished.
        struct stat held, named;
        return qor_fdlib_fstat(fd_.get(), &held) == 0 &&
               qor_fdlib::fstatat(journalfd_, name_.c_str(), &named) == 0 && same_file(held, named);
    }

    // The change is over: the record goes.
    void drop() {
        if (qor_fdlib::unlinkat(journalfd_, name_.c_str(), 0) != 0 && errno != ENOENT)
            qor_log_errf(QOR_LOG_WARNING, "Could not remove journal record '%s'", name_.c_str());
        fd_.close();
    }

    int fd() const { return fd_.get(); }
    const std::string &name() const { return name_; }

private:
    int journalfd_;
    std::string name_;
    Fd fd_;
};

const bx_spool_queue *queue_named(const bx_spool &sp, const std::string &name) {
    for (const bx_spool_queue &q : sp.queues)
        if (q.q && name == q.name) return &q;
    return nullptr;
}

// 1 when item n is present and holds the key, else 0; -1 when unknown.
int holds(bx_queue q, uint32_t n, const std::string &key) {
    if (n == 0) return 0;
    errno = 0;
    bx_queue_item_ptr item(read_item(q, n));
    if (!item) return errno ? -1 : 0;
    return key == item->primary_key ? 1 : 0;
}

// A put a process did not finish (see the order of writes in bx_queue.cpp).
// Its record holds the new item; once that was linked in as item n, the
// key's entry decides: still on the old item, it is moved on to n (the put
// completes); on n, only the old item is left to remove; on a later item,
// or gone because the transaction has left the queue since, n is stale.
bool recover_put(const bx_spool &sp, Record &rec, const JournalName &jn) {
    const bx_spool_queue *sq = queue_named(sp, jn.queue);
    if (!sq) {
        qor_logf(QOR_LOG_NONFATAL, "Journal record '%s' names no open queue", rec.name().c_str());
        return false;
    }
    bx_queue q = sq->q;
    bx_queue_lock qlock(q);
    IndexLock ilock(q, QOR_FDLIB_EXCLUSIVE);
    if (!qlock.held() || !ilock.held()) return false;
    if (!rec.take_up()) return true;

    std::string bytes;
    ParsedItem p;
    struct stat record, item;
    if (!read_all(rec.fd(), &bytes) || qor_fdlib_fstat(rec.fd(), &record) != 0) return false;
    bool whole = parse_item(bytes.data(), bytes.size(), &p) == ItemForm::whole;
    std::string name = std::to_string(jn.n);
    bool linked = qor_fdlib::fstatat(q->qdirfd, name.c_str(), &item) == 0 && same_file(record, item);
    if (!linked || !whole) {
        // A new key's entry, made before the item was written, goes too.
        if (whole && jn.old == 0 && entry_value(q, std::string(p.key).c_str()) == 0)
            remove_entry(q, std::string(p.key).c_str());
        qor_logf(QOR_LOG_WARNING, "Queue '%s': dropped the unfinished store of item %u", q->qname, jn.n);
        rec.drop();
        return true;
    }
    std::string key(p.key);
    int entry = entry_value(q, key.c_str());
    int old_here = holds(q, jn.old, key);
    if (entry < 0 || old_here < 0) return false;
    uint32_t named = static_cast<uint32_t>(entry);
    bool ok = true;
    const char *outcome;
    if (named == jn.n) {
        outcome = "finished";
        if (old_here && jn.old != jn.n) ok = remove_item(q, jn.old);
    } else if (entry == 0 ? jn.old == 0 : (named == jn.old && jn.old != 0) || holds(q, named, key) == 0) {
        // Never named, or still naming what it named before the put.
        outcome = "finished";
        ok = write_entry(q, key.c_str(), jn.n) && (!old_here || remove_item(q, jn.old));
    } else {
        // The key moved on since: a later item, or none at all.
        outcome = "dropped";
        ok = remove_item(q, jn.n) && (!old_here || remove_item(q, jn.old));
    }
    if (!ok || !sync_queue_dir(q)) {
        qor_log_errf(QOR_LOG_NONFATAL, "Queue '%s': could not settle the store of '%s' (item %u)", q->qname,
                     key.c_str(), jn.n);
        return false;
    }
    qor_logf(QOR_LOG_WARNING, "Queue '%s': %s the interrupted store of '%s' (item %u)", q->qname, outcome,
             key.c_str(), jn.n);
    rec.drop();
    return true;
}

// A change is one rename: its record is either renamed over the item
// already (and then no longer there) or was never renamed, and then goes.
bool recover_change(const bx_spool &sp, Record &rec, const JournalName &jn) {
    const bx_spool_queue *sq = queue_named(sp, jn.queue);
    if (!sq) return false;
    IndexLock lock(sq->q, QOR_FDLIB_EXCLUSIVE);
    if (!lock.held()) return false;
    if (rec.take_up()) rec.drop();
    return true;
}

// A move a process did not finish.  Its transaction was stored beyond the
// source when another queue holds it now: the copy left in the source is
// stale and goes.  Otherwise the move never stored anything and the
// transaction stays where it is.
bool recover_move(const bx_spool &sp, Record &rec, const JournalName &jn) {
    const bx_spool_queue *from = queue_named(sp, jn.queue);
    if (!from) {
        qor_logf(QOR_LOG_NONFATAL, "Journal record '%s' names no open queue", rec.name().c_str());
        return false;
    }
    bx_queue_lock lock(from->q);
    if (!lock.held()) return false;
    if (!rec.take_up()) return true;
    bx_queue_item_ptr item(bx_queue_find_item(from->q, jn.key.c_str()));
    if (!item) {
        if (from->q->lasterr) return false;
        rec.drop();
        return true;
    }
    const char *beyond = nullptr;
    for (const bx_spool_queue &other : sp.queues) {
        if (!other.q || !other.transactions || &other == from) continue;
        bx_queue_item_ptr copy(bx_queue_find_item(other.q, jn.key.c_str()));
        if (!copy && other.q->lasterr) return false;
        if (copy) beyond = other.name;
    }
    if (beyond) {
        if (bx_queue_item_delete(from->q, item.release()) != 0) return false;
        qor_logf(QOR_LOG_WARNING, "Finished the interrupted move of '%s' from '%s' to '%s'", jn.key.c_str(),
                 from->name, beyond);
    } else {
        qor_logf(QOR_LOG_WARNING, "Dropped the interrupted move of '%s' from '%s' to '%s'; it stays in '%s'",
                 jn.key.c_str(), from->name, jn.to.c_str(), from->name);
    }
    rec.drop();
    return true;
}

int journal_of(const bx_spool &sp) {
    for (const bx_spool_queue &q : sp.queues)
        if (q.q) return q.q->journalfd;
    return -1;
}

}  // namespace

int bx_queue_trylockqueue(bx_queue q) {
    if (!q) return -1;
    std::chrono::nanoseconds pause = kFirstPause;
    auto until = std::chrono::steady_clock::now() + kBusyBound;
    for (;;) {
        if (qor_fdlib::lockfd(q->lockfd, QOR_FDLIB_EXCLUSIVE, QOR_FDLIB_NOWAIT) == 0) return 0;
        if (errno != EAGAIN && errno != EACCES) return -1;
        if (std::chrono::steady_clock::now() >= until) {
            errno = EAGAIN;
            return -1;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, kLongestPause);
    }
}

bx_moved bx_queue_move(bx_queue from, bx_queue to, bx_queue_item raw, const char *data, int size) {
    bx_queue_item_ptr item(raw);
    if (!from || !to || !item) return bx_moved::unstored;
    std::string key = item->primary_key;
    if (bx_queue_trylockqueue(to) != 0) return errno == EAGAIN ? bx_moved::busy : bx_moved::unlocked;
    // From here until the source copy is gone, the record says where the
    // transaction is going.
    Record rec(to->journalfd, move_record_name(from->qname, to->qname, key));
    bool stored = rec.create(true) && bx_queue_put(to, data, size, key.c_str()) >= 1;
    bx_queue_unlockqueue(to);
    if (!stored) {
        rec.drop();
        return bx_moved::unstored;
    }
    if (bx_queue_item_delete(from, item.release()) != 0) return bx_moved::undeleted;
    rec.drop();
    return bx_moved::moved;
}

bool bx_spool_journal(const bx_spool &sp, std::vector<bx_journal_record> *out) {
    std::vector<std::string> names;
    if (!list_names((sp.dir + "/" + kJournalDir).c_str(), &names)) return false;
    out->clear();
    for (std::string &name : names) {
        JournalName jn;
        if (!parse_journal_name(name, &jn)) jn.kind = 0;
        out->push_back({std::move(name), std::move(jn)});
    }
    return true;
}

int bx_spool_recover(const bx_spool &sp) {
    int journal = journal_of(sp);
    if (journal < 0) return 0;
    std::vector<bx_journal_record> records;
    if (!bx_spool_journal(sp, &records)) {
        qor_log_errf(QOR_LOG_NONFATAL, "Could not read the journal of spool '%s'", sp.dir.c_str());
        return -1;
    }
    int settled = 0;
    bool failures = false;
    // Stores first: a move is judged by where its transaction is stored.
    for (char kind : {'c', 'p', 'm'}) {
        for (const auto &[name, jn] : records) {
            if (jn.kind != kind) continue;
            Record rec(journal, name);
            if (!rec.idle()) continue;
            bool ok = kind == 'c' ? recover_change(sp, rec, jn)
                    : kind == 'p' ? recover_put(sp, rec, jn)
                                  : recover_move(sp, rec, jn);
            if (ok)
                settled++;
            else
                failures = true;
        }
    }
    return failures ? -1 : settled;
}
