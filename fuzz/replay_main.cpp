// replay_main: runs a fuzz target once on each file of a corpus, without
// libFuzzer, so that the ordinary and the sanitizer builds replay the
// committed corpora as tests.
//
// Usage: fuzz-replay-<name> PATH...  where each PATH is a file or a folder
// whose files (not sub-folders) are taken in name order.  Each input is
// handed over in a buffer of exactly its size, so a read past it is caught
// by AddressSanitizer as it would be under libFuzzer.
//
// Failure policy: a target that breaks an expectation aborts; an unreadable
// path, or no input at all, exits 1: a replay that ran nothing has not
// passed.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_util.h"

namespace {

bool read_whole(const std::string &path, std::vector<char> &out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

// The files a path names: itself, or the files directly in it, sorted.
bool inputs_of(const std::string &path, std::vector<std::string> &out) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        out.push_back(path);
        return true;
    }
    DIR *d = opendir(path.c_str());
    if (!d) return false;
    std::vector<std::string> found;
    while (dirent *e = readdir(d)) {
        std::string file = path + "/" + e->d_name;
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) found.push_back(file);
    }
    closedir(d);
    std::sort(found.begin(), found.end());
    out.insert(out.end(), found.begin(), found.end());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        if (!inputs_of(argv[i], files)) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[i]);
            return 1;
        }
    }
    if (files.empty()) {
        fprintf(stderr, "%s: no input to replay\n", argv[0]);
        return 1;
    }
    for (const std::string &file : files) {
        // Named first, so that a crash report follows the name of its input.
        printf("replaying %s\n", file.c_str());
        fflush(stdout);
        std::vector<char> data;
        if (!read_whole(file, data)) {
            fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
            return 1;
        }
        // An exact-size copy: no slack after the input for a reader to use.
        std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() ? data.size() : 1]);
        std::copy(data.begin(), data.end(), exact.get());
        LLVMFuzzerTestOneInput(exact.get(), data.size());
    }
    printf("replayed %zu inputs\n", files.size());
    return 0;
}
