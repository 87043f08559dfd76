// bench-floor: the file-system floor of a whole card sale.  It makes,
// sale after sale, exactly the locks, reads, writes, flushes, creations,
// links and removals that the queue design prescribes for one sale
// (bx_new, five bx_add, bx_sale from "new" to "ready"), in the library's
// order, on the same kind of spool and with items of the library's sizes,
// and nothing else: no record is built or parsed, the payload is a fixed
// buffer, the only text made is the decimal numbers the files must hold,
// and the only text read is the ".index" and ".head" values that decide
// those numbers.  Every call is the cheapest that does the step: one
// pread or pwrite per file, names relative to the open queue directories,
// the queues' bookkeeping descriptors held open for the run.  bench/run.sh
// runs it against bench-sale to tell the library's cost from the design's.
//
// Usage: bench-floor [--locks=all|no-read|needed] SPOOL_DIR N
//   SPOOL_DIR  a spool laid out by the library (`bench-sale SPOOL_DIR 0`);
//              when it has no "new" queue, the floor lays it out itself
//              (nine queues with ".index" and ".head" at 1, ".lock",
//              ".dblock", and "journal"), so it runs anywhere on its own
//   N          timed sales, after one sale to warm up
//   --locks=all      (default) every lock the design takes
//   --locks=no-read  without the locks of the read-only steps: the shared
//                    index locks, the entry lock and the item lock (and its
//                    lock file) of each look-up; the item read is checked
//                    against its own key line instead
//   --locks=needed   also without the shared locks taken on ".index",
//                    ".head" and entry files inside the exclusive index
//                    locks of puts and deletes
// Output, one line:
//   floor locks=MODE sales=N seconds=T sales_per_s=R calls_per_sale=C
//         cpu_us_per_sale=P user_us_per_sale=U sys_us_per_sale=Y
// calls_per_sale counts the system calls of the timed sales; cpu is the
// exact CPU time (user and system), the split is getrusage's.
//
// The sequence, per sale (H, I, L, D: ".head", ".index", ".lock",
// ".dblock" of a queue; search: the entry's open in each queue, in the
// status search's order bad, done, ready, denied, review, auth, unauth,
// new):
//   bx_new   L(new) X; search (8 absent); put; L unlock
//   bx_add   search (7 absent, then the look-up in new); L X; look-up;
//            put replacing the old item; L unlock            (five times)
//   bx_sale  search and look-up as bx_add; L(new) X; look-up; move:
//            L(ready) X without waiting, move record made and locked, the
//            journal directory flushed, put into ready, L(ready) unlock,
//            delete from new, move record removed; L(new) unlock
// A ".head" rewritten with a value no shorter than the old one is not cut
// (the values only grow), so the floor makes no ftruncate.
//
// Failure policy: any call that does not give the result the sequence
// expects stops the program with the call and its error (exit status 1).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "bench/bench_common.h"

namespace {

enum class Locks { all, no_read, needed };

Locks g_locks = Locks::all;
unsigned long g_calls = 0;  // system calls made

[[noreturn]] void failed(const char *call, const char *name) {
    fprintf(stderr, "bench-floor: %s(%s): %s\n", call, name, strerror(errno));
    exit(1);
}

// --- Counted calls ------------------------------------------------------------

int open_at(int dir, const char *name, int flags, mode_t mode = 0) {
    g_calls++;
    int fd = openat(dir, name, flags | O_CLOEXEC, mode);
    if (fd < 0) failed("openat", name);
    return fd;
}

void absent(int dir, const char *name) {
    g_calls++;
    int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) failed("openat (expected absent)", name);
}

void lock(int fd, short type, int cmd = F_SETLKW) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    g_calls++;
    if (fcntl(fd, cmd, &fl) != 0) failed("fcntl", "lock");
}
void unlock(int fd) { lock(fd, F_UNLCK); }

ssize_t read_at(int fd, char *buf, size_t size) {
    g_calls++;
    ssize_t n = pread(fd, buf, size, 0);
    if (n < 0) failed("pread", "");
    return n;
}

void write_at(int fd, const char *buf, size_t len) {
    g_calls++;
    if (pwrite(fd, buf, len, 0) != static_cast<ssize_t>(len)) failed("pwrite", "");
}

void flush(int fd) {
    g_calls++;
    if (fsync(fd) != 0) failed("fsync", "");
}

void close_fd(int fd) {
    g_calls++;
    if (close(fd) != 0) failed("close", "");
}

void link_at(int from_dir, const char *from, int to_dir, const char *to) {
    g_calls++;
    if (linkat(from_dir, from, to_dir, to, 0) != 0) failed("linkat", to);
}

// A removal; a name that is already gone is no failure when `may_be_gone`.
void unlink_at(int dir, const char *name, bool may_be_gone = false) {
    g_calls++;
    if (unlinkat(dir, name, 0) != 0 && !(may_be_gone && errno == ENOENT)) failed("unlinkat", name);
}

bool present(int dir, const char *name) {
    struct stat st;
    g_calls++;
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) return true;
    if (errno != ENOENT) failed("fstatat", name);
    return false;
}

// --- Names and values -----------------------------------------------------------

// n in decimal at p; returns the end.
char *put_number(char *p, uint32_t n) {
    char tmp[12];
    int k = 0;
    do tmp[k++] = static_cast<char>('0' + n % 10);
    while (n /= 10);
    while (k > 0) *p++ = tmp[--k];
    return p;
}

// A name or value built in place: a prefix, numbers and texts.  The
// longest one made here, "p.ready.<n>.<old>", takes 30 bytes.
struct Text {
    char buf[64];
    size_t len = 0;
    Text &add(std::string_view s) {
        memcpy(buf + len, s.data(), s.size());
        len += s.size();
        buf[len] = '\0';
        return *this;
    }
    Text &num(uint32_t n) {
        len = static_cast<size_t>(put_number(buf + len, n) - buf);
        buf[len] = '\0';
        return *this;
    }
    const char *c_str() const { return buf; }
};

Text item_name(uint32_t n) { return Text().num(n); }
Text lock_name(uint32_t n) { return Text().num(n).add(".lock"); }
Text value_text(uint32_t n) { return Text().num(n).add("\n"); }

// The decimal value at the start of an index file's bytes.
uint32_t value_of(const char *buf, ssize_t len) {
    uint32_t v = 0;
    for (ssize_t i = 0; i < len && buf[i] >= '0' && buf[i] <= '9'; i++) v = v * 10 + static_cast<uint32_t>(buf[i] - '0');
    return v;
}

// --- The spool ------------------------------------------------------------------

struct Queue {
    const char *name;
    int dir = -1, index = -1, head = -1, lock = -1, dblock = -1;
};

// The eight transaction queues in the status search's order; the ninth
// holds no transactions and takes no part in a sale.
Queue g_search[] = {{"bad"}, {"done"}, {"ready"}, {"denied"}, {"review"}, {"auth"}, {"unauth"}, {"new"}};
Queue &g_ready = g_search[2];
Queue &g_new = g_search[7];
int g_journal = -1;

int open_dir(int at, const char *name) {
    int fd = openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) failed("open", name);
    return fd;
}

int open_file(int dir, const char *name) {
    int fd = openat(dir, name, O_RDWR | O_CLOEXEC);
    if (fd < 0) failed("open", name);
    return fd;
}

// Lays a spool out as a session would: every queue with its bookkeeping
// files, and the journal directory.
void lay_out(const std::string &spool) {
    static const char *kQueues[] = {"new", "auth", "ready", "done", "unauth", "denied", "review", "bad", "globals"};
    mkdir(spool.c_str(), 0700);
    int top = open_dir(AT_FDCWD, spool.c_str());
    for (const char *q : kQueues) {
        if (mkdirat(top, q, 0700) != 0 && errno != EEXIST) failed("mkdir", q);
        int dir = open_dir(top, q);
        for (const char *f : {".index", ".head"}) {
            int fd = openat(dir, f, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd < 0 || pwrite(fd, "1\n", 2, 0) != 2 || fsync(fd) != 0) failed("write", f);
            close(fd);
        }
        for (const char *f : {".lock", ".dblock"}) {
            int fd = openat(dir, f, O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (fd < 0) failed("create", f);
            close(fd);
        }
        fsync(dir);
        close(dir);
    }
    if (mkdirat(top, "journal", 0700) != 0 && errno != EEXIST) failed("mkdir", "journal");
    fsync(top);
    close(top);
}

void open_spool(const std::string &spool) {
    int top = open_dir(AT_FDCWD, spool.c_str());
    for (Queue &q : g_search) q.dir = open_dir(top, q.name);
    for (Queue *q : {&g_new, &g_ready}) {
        q->index = open_file(q->dir, ".index");
        q->head = open_file(q->dir, ".head");
        q->lock = open_file(q->dir, ".lock");
        q->dblock = open_file(q->dir, ".dblock");
    }
    g_journal = open_dir(top, "journal");
    close(top);
}

// --- Items ---------------------------------------------------------------------

// Data sizes of the stored transaction after bx_new and after each bx_add
// (in "new"), and as sold (in "ready"): the library's for bench-sale's
// fields.
constexpr int kSteps = 7;
constexpr int kDataSize[kSteps] = {716, 719, 735, 739, 742, 747, 756};
constexpr size_t kKeyLen = 8;

// Each step's item bytes, "KEY\nSIZE\n" and the data; the key is filled in
// per sale.
struct Item {
    char bytes[1024];
    size_t len;
};
Item g_items[kSteps];

void make_items() {
    for (int s = 0; s < kSteps; s++) {
        Item &it = g_items[s];
        char *p = it.bytes;
        memset(p, 'K', kKeyLen);
        p += kKeyLen;
        *p++ = '\n';
        p = put_number(p, static_cast<uint32_t>(kDataSize[s]));
        *p++ = '\n';
        memset(p, 'd', static_cast<size_t>(kDataSize[s]));
        it.len = static_cast<size_t>(p - it.bytes) + static_cast<size_t>(kDataSize[s]);
    }
}

// --- Steps -----------------------------------------------------------------------

struct Sale {
    char key[kKeyLen + 1];
    Text entry;               // "i_KEY"
};

bool read_locks() { return g_locks == Locks::all; }
bool inner_locks() { return g_locks != Locks::needed; }

void lock_indexes(Queue &q, short type) {
    lock(q.head, type);
    lock(q.index, type);
    lock(q.dblock, type);
}
void unlock_indexes(Queue &q) {
    unlock(q.dblock);
    unlock(q.index);
    unlock(q.head);
}

// An index value file read inside the exclusive index locks (under its
// own shared lock while the design takes one).
uint32_t read_value(int fd) {
    char buf[100];
    if (inner_locks()) lock(fd, F_RDLCK);
    ssize_t n = read_at(fd, buf, sizeof buf);
    if (inner_locks()) unlock(fd);
    return value_of(buf, n);
}

// The status search up to the queue that holds the key: `absent` queues
// that have no entry of it.
void search_absent(const Sale &s, int queues) {
    for (int i = 0; i < queues; i++) absent(g_search[i].dir, s.entry.c_str());
}

// A look-up in "new": the entry, then item n it names, read whole.
void look_up(const Sale &s, uint32_t n) {
    Queue &q = g_new;
    int e = open_at(q.dir, s.entry.c_str(), O_RDONLY);
    char small[100];
    if (read_locks()) {
        lock_indexes(q, F_RDLCK);
        lock(e, F_RDLCK);
    }
    read_at(e, small, sizeof small);
    if (read_locks()) unlock(e);
    Text name = item_name(n);
    int item = open_at(q.dir, name.c_str(), O_RDONLY);
    int held = -1;
    if (read_locks()) {
        held = open_at(q.dir, lock_name(n).c_str(), O_RDWR | O_CREAT, 0600);
        lock(held, F_WRLCK);
    }
    static char big[8192];
    ssize_t got = read_at(item, big, sizeof big);
    if (got < static_cast<ssize_t>(kKeyLen + 1) || memcmp(big, s.key, kKeyLen) != 0 || big[kKeyLen] != '\n')
        failed("item key line", name.c_str());
    if (read_locks()) {
        unlock(held);
        close_fd(held);
    }
    close_fd(item);
    if (read_locks()) unlock_indexes(q);
    close_fd(e);
}

// Stores step `step`'s item under the key in q, replacing item old (0:
// none).  Returns the new item's number.
uint32_t put(Queue &q, const Sale &s, uint32_t old, int step) {
    lock_indexes(q, F_WRLCK);
    int e = open_at(q.dir, s.entry.c_str(), O_RDWR | O_CREAT, 0600);
    read_value(e);
    uint32_t n = read_value(q.index) + 1;
    Text value = value_text(n);
    write_at(q.index, value.buf, value.len);
    flush(q.index);
    Text record = Text().add("p.").add(q.name).add(".").num(n).add(".").num(old);
    int j = open_at(g_journal, record.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
    lock(j, F_WRLCK, F_SETLK);
    Item &it = g_items[step];
    memcpy(it.bytes, s.key, kKeyLen);
    write_at(j, it.bytes, it.len);
    flush(j);
    link_at(g_journal, record.c_str(), q.dir, item_name(n).c_str());
    write_at(e, value.buf, value.len);
    flush(e);
    flush(q.dir);
    if (old) {
        unlink_at(q.dir, item_name(old).c_str());
        unlink_at(q.dir, lock_name(old).c_str(), true);
        flush(q.dir);
    }
    unlink_at(g_journal, record.c_str());
    close_fd(j);
    close_fd(e);
    unlock_indexes(q);
    return n;
}

// Deletes item n of the key from "new": ".head" moves past the items that
// are gone, the item, its lock file and its entry go.
void delete_item(const Sale &s, uint32_t n) {
    Queue &q = g_new;
    lock_indexes(q, F_WRLCK);
    uint32_t max = read_value(q.index);
    uint32_t first = read_value(q.head);
    uint32_t head = max;
    for (uint32_t k = first; k < max; k++)
        if (present(q.dir, item_name(k).c_str())) {
            head = k;
            break;
        }
    if (head != first) {
        Text value = value_text(head);
        write_at(q.head, value.buf, value.len);
        flush(q.head);
    }
    unlink_at(q.dir, item_name(n).c_str());
    unlink_at(q.dir, lock_name(n).c_str(), true);
    int e = open_at(q.dir, s.entry.c_str(), O_RDONLY);
    read_value(e);
    close_fd(e);
    unlink_at(q.dir, s.entry.c_str());
    flush(q.dir);
    unlock_indexes(q);
}

void sell(const char *key) {
    Sale s;
    memcpy(s.key, key, kKeyLen + 1);
    s.entry.add("i_").add(s.key);

    // bx_new
    lock(g_new.lock, F_WRLCK);
    search_absent(s, 8);
    uint32_t n = put(g_new, s, 0, 0);
    unlock(g_new.lock);

    // bx_add, five fields
    for (int step = 1; step <= 5; step++) {
        search_absent(s, 7);
        look_up(s, n);
        lock(g_new.lock, F_WRLCK);
        look_up(s, n);
        n = put(g_new, s, n, step);
        unlock(g_new.lock);
    }

    // bx_sale
    search_absent(s, 7);
    look_up(s, n);
    lock(g_new.lock, F_WRLCK);
    look_up(s, n);
    lock(g_ready.lock, F_WRLCK, F_SETLK);
    Text record = Text().add("m.new.ready.").add(s.key);
    int m = open_at(g_journal, record.c_str(), O_RDWR | O_CREAT, 0600);
    lock(m, F_WRLCK, F_SETLK);
    flush(g_journal);
    put(g_ready, s, 0, 6);
    unlock(g_ready.lock);
    delete_item(s, n);
    unlink_at(g_journal, record.c_str());
    close_fd(m);
    unlock(g_new.lock);
}

[[noreturn]] void usage() {
    fputs("usage: bench-floor [--locks=all|no-read|needed] SPOOL_DIR N\n", stderr);
    exit(2);
}

}  // namespace

int main(int argc, char **argv) {
    static const struct {
        const char *option;
        Locks locks;
        const char *name;
    } kModes[] = {{"--locks=all", Locks::all, "all"},
                  {"--locks=no-read", Locks::no_read, "no-read"},
                  {"--locks=needed", Locks::needed, "needed"}};
    const char *mode = "all";
    int arg = 1;
    if (arg < argc && strncmp(argv[arg], "--locks=", 8) == 0) {
        bool known = false;
        for (const auto &m : kModes)
            if (strcmp(argv[arg], m.option) == 0) {
                g_locks = m.locks;
                mode = m.name;
                known = true;
            }
        if (!known) usage();
        arg++;
    }
    if (argc - arg != 2) usage();
    std::string spool = argv[arg];
    long sales = atol(argv[arg + 1]);
    if (sales < 1) usage();

    struct stat st;
    if (stat((spool + "/new").c_str(), &st) != 0) lay_out(spool);
    open_spool(spool);
    make_items();

    unsigned tag = bench::run_tag();
    char key[9];
    bench::make_key(key, tag, 0, 0);
    sell(key);

    unsigned long calls0 = g_calls;
    bench::Cpu c0 = bench::cpu();
    double cpu0 = bench::cpu_time();
    double t0 = bench::now();
    for (long i = 1; i <= sales; i++) {
        bench::make_key(key, tag, 0, static_cast<unsigned long>(i));
        sell(key);
    }
    double secs = bench::now() - t0;
    double cpu = bench::cpu_time() - cpu0;
    bench::Cpu c1 = bench::cpu();
    double n = static_cast<double>(sales);
    printf("floor locks=%s sales=%ld seconds=%.4f sales_per_s=%.1f calls_per_sale=%.1f "
           "cpu_us_per_sale=%.1f user_us_per_sale=%.1f sys_us_per_sale=%.1f\n",
           mode, sales, secs, n / secs, static_cast<double>(g_calls - calls0) / n, 1e6 * cpu / n, 1e6 * (c1.user - c0.user) / n,
           1e6 * (c1.sys - c0.sys) / n);
    return 0;
}
