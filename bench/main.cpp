// morvak_bench: measures morvak_fragflat on large synthetic recordings.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_case.h"
#include "bench/options.h"
#include "bench/report.h"

namespace {

bool is_executable(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The tool beside this program, or in the build tree's bin/ next to bench/.
std::string find_tool() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return "";
    std::string dir(self, static_cast<size_t>(n));
    dir.erase(dir.find_last_of('/') + 1);
    for (const char* rel : {"morvak_fragflat", "../bin/morvak_fragflat"}) {
        if (is_executable(dir + rel)) return dir + rel;
    }
    return "";
}

struct WorkDir {
    std::string path;
    bool created = false;
};

bool make_work_dir(const std::string& wanted, WorkDir& out) {
    if (wanted.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/morvak-bench-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) return false;
        out.path = buf.data();
        out.created = true;
        return true;
    }
    out.path = wanted;
    if (mkdir(wanted.c_str(), 0755) == 0) {
        out.created = true;
        return true;
    }
    struct stat st;
    return errno == EEXIST && stat(wanted.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int main(int argc, char** argv) {
    BenchOptions opts;
    int rc = parse_options(argc, argv, opts);
    if (rc >= 0) return rc;
    if (opts.tool.empty()) opts.tool = find_tool();
    if (opts.tool.empty() || !is_executable(opts.tool)) {
        std::fprintf(stderr, "morvak_bench: morvak_fragflat not found; give it with --tool\n");
        return 2;
    }
    WorkDir dir;
    if (!make_work_dir(opts.dir, dir)) {
        std::fprintf(stderr, "morvak_bench: cannot use directory %s: %s\n", opts.dir.c_str(), std::strerror(errno));
        return 2;
    }
    std::sort(opts.sizes.begin(), opts.sizes.end());
    opts.sizes.erase(std::unique(opts.sizes.begin(), opts.sizes.end()), opts.sizes.end());

    std::printf("tool %s\nfiles in %s; fastest of %d conversions per file\n", opts.tool.c_str(), dir.path.c_str(),
                opts.repeat);
    std::printf("samples: both tracks together (30 fps video in 2 s fragments, 44.1 kHz audio frames);\n"
                "media payloads are holes in sparse files.\n"
                "convert, cpu, peak RSS: fastest wall time, fastest user+system time and highest memory\n"
                "of the timed runs; writes (write, pwrite, truncate calls) and syncs: from one more, traced run.\n\n");
    std::fflush(stdout);

    std::vector<CaseResult> results;
    for (Timing timing : {Timing::constant, Timing::varying}) {
        for (uint64_t samples : opts.sizes) {
            const std::string path = dir.path + "/" + timing_name(timing) + "-" + std::to_string(samples) + ".mp4";
            std::fprintf(stderr, "%s, %llu samples ...\n", timing_name(timing),
                         static_cast<unsigned long long>(samples));
            results.push_back(run_case(opts.tool, path, timing, samples, opts.repeat, opts.keep));
        }
    }
    if (dir.created && !opts.keep) rmdir(dir.path.c_str());

    print_table(results);
    // A child's peak memory can include what the bench held when it forked.
    struct rusage self;
    if (getrusage(RUSAGE_SELF, &self) == 0) {
        std::printf("(children fork from the bench, whose own peak RSS is %.1f MiB)\n",
                    static_cast<double>(self.ru_maxrss) / 1024);
    }
    const bool targets_met = print_targets(results);
    const bool all_ok = std::all_of(results.begin(), results.end(), [](const CaseResult& r) { return r.ok(); });
    return all_ok && targets_met ? 0 : 1;
}
