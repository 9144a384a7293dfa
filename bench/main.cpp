// morvak_bench: measures morvak_fragflat on large synthetic recordings, each
// converted and undone a few times, and prints the figures against the
// speed, write-call and memory targets.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_case.h"
#include "bench/report.h"

namespace {

const char kUsage[] =
    "morvak_bench [options]\n"
    " --tool <path>      morvak_fragflat to measure (default: the one built with this program)\n"
    " --dir <directory>  where the files go (default: a new directory under $TMPDIR or /tmp)\n"
    " --sizes <n,n,...>  samples per file, both tracks together (default 10000,100000,1000000)\n"
    " --repeat <n>       conversions per file; the fastest counts (default 5)\n"
    " --keep             leave the generated files in place\n"
    " -h --help          show this text\n";

struct Options {
    std::string tool = MORVAK_TOOL;  // the one built with the bench
    std::string dir;   // empty: a fresh directory under $TMPDIR or /tmp
    std::vector<uint64_t> sizes{10000, 100000, 1000000};
    int repeat = 5;
    bool keep = false;
};

// A comma-separated list of counts from 1 up, in decimal digits only.
bool parse_counts(const std::string& text, std::vector<uint64_t>& out) {
    out.clear();
    std::istringstream list(text + ",");
    for (std::string item; std::getline(list, item, ',');) {
        if (item.empty() || item.size() > 18 || item.find_first_not_of("0123456789") != std::string::npos) return false;
        out.push_back(std::stoull(item));
        if (out.back() == 0) return false;
    }
    return true;
}

// -1 to go on, else the exit status.
int parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        std::vector<uint64_t> n;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--keep") {
            o.keep = true;
        } else if (a == "--tool" && has_value) {
            o.tool = argv[++i];
        } else if (a == "--dir" && has_value) {
            o.dir = argv[++i];
        } else if (a == "--sizes" && has_value && parse_counts(argv[++i], o.sizes)) {
        } else if (a == "--repeat" && has_value && parse_counts(argv[++i], n) && n.size() == 1 && n[0] <= 100) {
            o.repeat = static_cast<int>(n[0]);
        } else {
            std::fprintf(stderr, "morvak_bench: unknown, incomplete or bad option %s\n%s", a.c_str(), kUsage);
            return 2;
        }
    }
    return -1;
}

// The directory asked for (made when missing) or a fresh one; `created`
// tells whether it is ours to remove.
bool make_work_dir(std::string& dir, bool& created) {
    if (dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        dir = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/morvak-bench-XXXXXX";
        return created = mkdtemp(dir.data()) != nullptr;
    }
    created = mkdir(dir.c_str(), 0755) == 0;
    struct stat st {};
    return created || (errno == EEXIST && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    const int rc = parse_options(argc, argv, o);
    if (rc >= 0) return rc;
    if (access(o.tool.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "morvak_bench: morvak_fragflat not found; give it with --tool\n");
        return 2;
    }
    bool created = false;
    if (!make_work_dir(o.dir, created)) {
        std::fprintf(stderr, "morvak_bench: cannot use directory %s: %s\n", o.dir.c_str(), std::strerror(errno));
        return 2;
    }
    std::sort(o.sizes.begin(), o.sizes.end());
    o.sizes.erase(std::unique(o.sizes.begin(), o.sizes.end()), o.sizes.end());

    std::printf("tool %s\nfiles in %s; fastest of %d conversions per file\n", o.tool.c_str(), o.dir.c_str(), o.repeat);
    std::printf("samples: both tracks together (30 fps video in 2 s fragments, 44.1 kHz audio frames);\n"
                "media payloads are holes in sparse files.\n"
                "convert, cpu, undo: fastest wall and user+system time; peak RSS and writes (write calls,\n"
                "syscw in /proc/<pid>/io): highest over the runs.\n\n");
    std::fflush(stdout);
    std::vector<CaseResult> results;
    for (Kind kind : {Kind::constant, Kind::varying, Kind::indexed}) {
        for (uint64_t samples : o.sizes) {
            const std::string name = kind_name(kind) + std::string("-") + std::to_string(samples);
            std::fprintf(stderr, "%s ...\n", name.c_str());
            const std::string path = o.dir + "/" + name + ".mp4";
            results.push_back(run_case(o.tool, path, kind, samples, o.repeat, o.keep));
        }
    }
    if (created && !o.keep) rmdir(o.dir.c_str());

    print_table(results);
    const bool targets_met = print_targets(results);
    const bool all_ok = std::all_of(results.begin(), results.end(), [](const CaseResult& r) { return r.ok(); });
    return all_ok && targets_met ? 0 : 1;
}
