#include "bench/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void usage(FILE* to) {
    std::fprintf(to,
                 "morvak_bench [options]\n"
                 " --tool <path>      morvak_fragflat to measure (default: next to this program, or ../bin)\n"
                 " --dir <directory>  where the files go (default: a new directory under $TMPDIR or /tmp)\n"
                 " --sizes <n,n,...>  samples per file, both tracks together (default 10000,100000,1000000)\n"
                 " --repeat <n>       conversions per file; the fastest counts (default 5)\n"
                 " --keep             leave the generated files in place\n"
                 " -h --help          show this text\n");
}

bool parse_count(const char* text, uint64_t& out) {
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v == 0) return false;
    out = v;
    return true;
}

bool parse_sizes(const char* text, std::vector<uint64_t>& out) {
    out.clear();
    std::string list(text);
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        uint64_t n = 0;
        if (!parse_count(list.substr(at, comma - at).c_str(), n)) return false;
        out.push_back(n);
        at = comma + 1;
    }
    return !out.empty();
}

}  // namespace

int parse_options(int argc, char** argv, BenchOptions& out) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const bool has_value = i + 1 < argc;
        if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (std::strcmp(a, "--keep") == 0) {
            out.keep = true;
        } else if (std::strcmp(a, "--tool") == 0 && has_value) {
            out.tool = argv[++i];
        } else if (std::strcmp(a, "--dir") == 0 && has_value) {
            out.dir = argv[++i];
        } else if (std::strcmp(a, "--sizes") == 0 && has_value) {
            if (!parse_sizes(argv[++i], out.sizes)) {
                std::fprintf(stderr, "morvak_bench: bad --sizes list\n");
                return 2;
            }
        } else if (std::strcmp(a, "--repeat") == 0 && has_value) {
            uint64_t n = 0;
            if (!parse_count(argv[++i], n) || n > 100) {
                std::fprintf(stderr, "morvak_bench: --repeat takes 1 to 100\n");
                return 2;
            }
            out.repeat = static_cast<int>(n);
        } else {
            std::fprintf(stderr, "morvak_bench: unknown or incomplete option %s\n", a);
            usage(stderr);
            return 2;
        }
    }
    return -1;
}
