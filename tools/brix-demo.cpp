// brix-demo: opens a session on a merchant configuration and shows what the
// library does with it: the answer texts and the spool tree on disk.
//
// Usage: brix-demo CONFIGNAME (the configuration is looked up as the
// library does: BRIX_CONFIG_DIR, /var/brix, /usr/local/etc/brix).
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/bx_api_add.h"
#include "api/bx_api_count.h"
#include "api/bx_api_errortext.h"
#include "api/bx_api_init.h"
#include "api/bx_api_new.h"
#include "api/bx_api_status.h"
#include "session/bx_argconv.h"
#include "queue/bx_queue.h"
#include "support/qor_log.h"
#include "xaction/bx_keydb.h"

namespace {

void print_log_line(int, const char *line, void *) { fprintf(stderr, "log: %s", line); }

std::vector<std::string> names_in(const std::string &dir) {
    std::vector<std::string> out;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) out.push_back(e->d_name);
        closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Prints the tree below dir with each file's mode, size and, for small
// text files, contents.
void print_tree(const std::string &dir, const std::string &indent) {
    for (const auto &name : names_in(dir)) {
        std::string path = dir + "/" + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            printf("%s%s/  (%04o)", indent.c_str(), name.c_str(), st.st_mode & 07777);
            if (names_in(path).size() == 4) {
                printf("  bookkeeping only\n");
                continue;
            }
            printf("\n");
            print_tree(path, indent + "    ");
            continue;
        }
        printf("%s%-10s %04o %6lld bytes", indent.c_str(), name.c_str(), st.st_mode & 07777,
               (long long)st.st_size);
        if (name == ".index" || name == ".head" || name.rfind("i_", 0) == 0) {
            if (FILE *f = fopen(path.c_str(), "r")) {
                char line[64] = "";
                if (fgets(line, sizeof line, f)) printf("  \"%.*s\\n\"", (int)strcspn(line, "\n"), line);
                fclose(f);
            }
        }
        printf("\n");
    }
}

// The keys of the stored stream that the demonstration fills in.
void show_stored(bx_session s, const char *invoice) {
    bx_queue_item item = bx_queue_find_item(s->new_, invoice);
    if (!item) return;
    if (bx_keydbel db = bx_keydb_unpack(item->buf, item->size)) {
        printf("   stored:    item #%u, %d bytes:", item->indexno, item->size);
        for (const char *key : {"Amount", "CCNumber", "CCExpDate", "RetailAVSFlag", "RetailAddress",
                                "RetailZipCode"})
            printf(" %s=%s", key, bx_keydb_get(db, key) ? bx_keydb_get(db, key) : "-");
        printf("\n");
        bx_keydb_destroy(db);
    }
    bx_queue_item_close(s->new_, item);
}

// Shows where the invoice stands and what each queue holds.
void show(bx_session s, const char *invoice) {
    show_stored(s, invoice);
    bx_status(s, invoice);
    printf("   bx_status: %s\n", bx_textvalue(s));
    bx_count(s, 255);
    printf("   bx_count:  %s\n", bx_textvalue(s));
}

// One bx_add step, as a script would make it.
void add(bx_session s, const char *invoice, const char *arg, const char *value) {
    int rc = bx_add(s, invoice, bx_str2arg(arg), value);
    printf("\n== bx_add(\"%s\", \"%s\", \"%s\") = %s %s\n", invoice, arg, value, bx_ret2str(rc),
           bx_textvalue(s));
    show(s, invoice);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: brix-demo CONFIGNAME\n");
        return 2;
    }
    qor_log_set_sink(print_log_line, nullptr);

    printf("== bx_init(\"%s\")\n", argv[1]);
    bx_session s = bx_init(argv[1]);
    if (!s) {
        printf("bx_init failed: %s\n", bx_initerror);
        return 1;
    }
    printf("answer text: %s\n", bx_textvalue(s));
    printf("protocol %d, record kind %d, merchant %s, ZIP \"%s\"\n", s->protocol, s->dbtype, s->mercid,
           s->citycode);

    const char *invoice = "inv-42";
    int rc = bx_new(s, invoice);
    printf("\n== bx_new(\"%s\") = %s %s\n", invoice, bx_ret2str(rc), bx_textvalue(s));
    show(s, invoice);
    add(s, invoice, "amount", "$12.34");
    add(s, invoice, "cardnum", "4111 1111 1111 1111");
    add(s, invoice, "expdate", "12/29");
    add(s, invoice, "address", "123 Main Street");
    add(s, invoice, "zipcode", "62701");
    add(s, invoice, "amount", "12.3");
    rc = bx_new(s, invoice);
    printf("\n== bx_new(\"%s\") again = %s %s\n", invoice, bx_ret2str(rc), bx_textvalue(s));

    printf("\n== spool tree under %s\n", s->qdir);
    print_tree(s->qdir, "  ");

    printf("\n== bx_done\n");
    bx_done(s);
    printf("session closed\n");
    return 0;
}
