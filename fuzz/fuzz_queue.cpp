// fuzz_queue: the queue store's readers of item files and index value
// files, through the public operations only.
//
// One queue "q" is opened once in the scratch directory.  For each input
// the first byte picks the file that the remaining bytes become (byte % 4:
// 0 item file "2", 1 ".index", 2 ".head", 3 entry file "i_FUZZKEY1"); the
// other files get their well-formed contents (item "FUZZKEY1\n5\nhello",
// ".index" "2\n", ".head" "1\n", entry "2\n").  Then the item is looked up
// by key and by position and the queue is counted.  The item found either
// way must be the same whole item, its data exactly the size it claims and
// terminated after it; item file 2 exists, so the count is 1 whenever the
// index files span it.
//
// Counting and positional lookup visit every number from ".head" to
// ".index"; a span of more than kMaxWalk numbers is not walked, since its
// run time grows with the span and not with the input.
#include <sys/stat.h>

#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <string>

#include "fuzz/fuzz_util.h"
#include "queue/bx_queue.h"
#include "queue/bx_queue_files.h"

namespace {

constexpr uint32_t kMaxWalk = 64;
constexpr char kKey[] = "FUZZKEY1";

const char *const kFiles[] = {"2", ".index", ".head", "i_FUZZKEY1"};
const char *const kWellFormed[] = {"FUZZKEY1\n5\nhello", "2\n", "1\n", "2\n"};

struct Scratch {
    std::string dir;   // the queue's directory
    bx_queue q;
};

const Scratch &scratch() {
    static const Scratch s = [] {
        fuzz::silence_log();
        const std::string &spool = fuzz::scratch_dir();
        bx_queue q = bx_queue_open("q", 0, spool.c_str());
        FUZZ_CHECK(q != nullptr);
        // Closed before the scratch directory goes.
        static bx_queue opened = q;
        atexit([] { bx_queue_close(opened, 0); });
        return Scratch{spool + "/q", q};
    }();
    return s;
}

// The number an index value file stands for, as the queue store takes it:
// a value that is not a number of its own stands for the walk's widest
// end (".head": 0; ".index": the largest item present, which is 2).
uint32_t index_value(const std::string &path, uint32_t otherwise) {
    std::string bytes = fuzz::read_file(path);
    int v;
    return bxq::parse_index(bytes.data(), bytes.size(), &v) && v >= 0 ? static_cast<uint32_t>(v) : otherwise;
}

void check_item(bx_queue q, bx_queue_item item) {
    if (!item) return;
    FUZZ_CHECK(item->size >= 0 && item->buf && item->buf[item->size] == '\0');
    FUZZ_CHECK(item->primary_key && strlen(item->primary_key) <= 99);
    FUZZ_CHECK(!strchr(item->primary_key, '\n'));
    FUZZ_CHECK(item->indexno == 2);
    std::unique_ptr<char[]> copy(new char[static_cast<size_t>(item->size) + 1]);
    FUZZ_CHECK(bx_queue_retrieve(q, item, copy.get(), item->size) == item->size);
    FUZZ_CHECK(memcmp(copy.get(), item->buf, static_cast<size_t>(item->size)) == 0);
    if (item->size > 0) FUZZ_CHECK(bx_queue_retrieve(q, item, copy.get(), item->size - 1) < 0);
}

bool same_item(bx_queue_item a, bx_queue_item b) {
    return a->size == b->size && strcmp(a->primary_key, b->primary_key) == 0 &&
           memcmp(a->buf, b->buf, static_cast<size_t>(a->size)) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const Scratch &s = scratch();
    size_t picked = data[0] % 4;
    for (size_t f = 0; f < 4; f++) {
        std::string_view text = f == picked ? fuzz::bytes(data + 1, size - 1) : kWellFormed[f];
        fuzz::write_file(s.dir + "/" + kFiles[f], text);
    }

    bx_queue_item_ptr by_key(bx_queue_find_item(s.q, kKey));
    check_item(s.q, by_key.get());

    uint32_t first = index_value(s.dir + "/.head", 0);
    uint32_t max = index_value(s.dir + "/.index", 2);
    if (first <= max && max - first > kMaxWalk) return 0;

    bool spans_item = first <= 2 && max >= 2;
    bx_queue_item_ptr first_item(bx_queue_nth_item(s.q, 1));
    check_item(s.q, first_item.get());
    FUZZ_CHECK(!first_item.get() || spans_item);
    bx_queue_item_ptr second_item(bx_queue_nth_item(s.q, 2));
    FUZZ_CHECK(second_item.get() == nullptr);  // there is one item file
    if (by_key.get() && first_item.get()) FUZZ_CHECK(same_item(by_key.get(), first_item.get()));
    // The entry names item 2: found by key exactly when it is found by place.
    if (picked != 3 && spans_item) FUZZ_CHECK((by_key.get() != nullptr) == (first_item.get() != nullptr));

    int count = bx_queue_count(s.q);
    FUZZ_CHECK(count == (spans_item ? 1 : 0));
    FUZZ_CHECK(bx_queue_count_limited(s.q, 1) == count);
    return 0;
}
