// The whole tool on a file: the input becomes a file (behind a fixed ftyp
// unless it starts with one), the conversion runs on it, and then the undo.
// The exit status must be 0 or 1; a refusal must leave the file exactly as
// it was, and a conversion must be undone back to the very same bytes.
//
// The driver keeps process-wide state and runs once per process, so each run
// happens in a forked child that exits with the driver's status. The child's
// coverage counters are copied back through shared memory, so that the
// fuzzer is guided by the driver's code and not only by this harness.
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sanitizer/lsan_interface.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "bin/driver.h"
#include "tests/fuzz/coverage_counters.h"

namespace {

constexpr unsigned kChildTimeoutSeconds = 30;
// Exit statuses the child uses for what the driver itself never returns.
constexpr int kSanitizerReport = 86;
constexpr int kLeakReport = 87;
// The tool wants more than 512 MiB free next to the file; leave a margin.
constexpr uint64_t kFreeSpaceWanted = uint64_t{1} << 30;

struct Scratch {
    std::string file;  // the file the tool works on
    std::string log;   // the last child's standard output and error
    uint8_t* counters = nullptr;         // this process's coverage counters
    unsigned char* shared_counters = nullptr;  // the child's, copied back
    size_t counters_len = 0;
};

Scratch scratch;

std::string scratch_dir() {
    if (const char* dir = std::getenv("MORVAK_FUZZ_TMPDIR")) return dir;
    for (const char* dir : {"/dev/shm", "/tmp"}) {
        struct statvfs fs;
        if (statvfs(dir, &fs) == 0 && uint64_t{fs.f_frsize} * uint64_t{fs.f_bavail} > kFreeSpaceWanted) return dir;
    }
    return "/tmp";
}

// At the normal end of a run; a failing run leaves them for inspection.
void remove_scratch() {
    unlink(scratch.file.c_str());
    unlink(scratch.log.c_str());
}

void set_up() {
    const std::string stem = scratch_dir() + "/morvak_fuzz_convert." + std::to_string(getpid());
    scratch.file = stem + ".mp4";
    scratch.log = stem + ".log";
    std::atexit(remove_scratch);
    scratch.counters = coverage_counters();
    scratch.counters_len = coverage_counters_size();
    if (scratch.counters != nullptr) {
        void* shared = mmap(nullptr, scratch.counters_len, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared != MAP_FAILED) scratch.shared_counters = static_cast<unsigned char*>(shared);
    }
}

void dump_log() {
    FILE* f = std::fopen(scratch.log.c_str(), "rb");
    if (f == nullptr) return;
    std::fprintf(stderr, "---- output of the tool ----\n");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) std::fwrite(buf, 1, n, stderr);
    std::fclose(f);
    std::fprintf(stderr, "---- end of output ----\n");
}

[[noreturn]] void fail(const char* what) {
    dump_log();
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

bool log_has_sanitizer_report() {
    FILE* f = std::fopen(scratch.log.c_str(), "rb");
    if (f == nullptr) return false;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
    return text.find("Sanitizer") != std::string::npos || text.find("runtime error:") != std::string::npos;
}

bool write_file(const std::vector<unsigned char>& bytes) {
    unlink(scratch.file.c_str());
    int fd = open(scratch.file.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

std::vector<unsigned char> read_file() {
    std::vector<unsigned char> bytes;
    int fd = open(scratch.file.c_str(), O_RDONLY);
    if (fd < 0) fail("cannot read the file back");
    unsigned char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    close(fd);
    if (n < 0) fail("cannot read the file back");
    return bytes;
}

void on_sanitizer_death() { _exit(kSanitizerReport); }

[[noreturn]] void child(bool undo) {
    int log = open(scratch.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (log >= 0) {
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        close(log);
    }
    // A hang ends the child; the parent reports the signal.
    std::signal(SIGALRM, SIG_DFL);
    alarm(kChildTimeoutSeconds);
    __sanitizer_set_death_callback(on_sanitizer_death);

    std::string args[] = {"morvak_fragflat", "-f", scratch.file, "--undo"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    int status = run_driver(undo ? 4 : 3, argv);
    if (__lsan_do_recoverable_leak_check() != 0) status = kLeakReport;
    std::fflush(stdout);
    std::fflush(stderr);
    if (scratch.shared_counters != nullptr) {
        std::memcpy(scratch.shared_counters, scratch.counters, scratch.counters_len);
    }
    _exit(status);
}

// Runs the conversion or the undo in a child; returns its status, 0 or 1.
int run_tool(bool undo) {
    if (scratch.shared_counters != nullptr) std::memset(scratch.shared_counters, 0, scratch.counters_len);
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid < 0) fail("fork failed");
    if (pid == 0) child(undo);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) fail("waitpid failed");
    }
    if (scratch.shared_counters != nullptr) {
        for (size_t i = 0; i < scratch.counters_len; ++i) {
            scratch.counters[i] = std::max(scratch.counters[i], scratch.shared_counters[i]);
        }
    }
    if (WIFSIGNALED(status)) {
        std::fprintf(stderr, "the tool died of signal %d\n", WTERMSIG(status));
        fail(undo ? "undo killed by a signal" : "conversion killed by a signal");
    }
    if (!WIFEXITED(status)) fail("the tool did not exit");
    const int code = WEXITSTATUS(status);
    if (code == kSanitizerReport || log_has_sanitizer_report()) fail("sanitizer report from the tool");
    if (code == kLeakReport) fail("the tool leaked memory");
    if (code != 0 && code != 1) {
        std::fprintf(stderr, "exit status %d\n", code);
        fail("exit status other than 0 or 1");
    }
    return code;
}

bool starts_with_ftyp(const uint8_t* data, size_t size) {
    return size >= 8 && be::read_u32(data + 4) == fourcc("ftyp");
}

// Put in front of inputs that have no ftyp of their own, so that the tool
// gets past its brand check and on to the movie and the fragments.
std::vector<unsigned char> fixed_ftyp() {
    std::vector<unsigned char> out;
    BeWriter w(out);
    size_t start = w.begin_atom(fourcc("ftyp"));
    w.u32(fourcc("isom"));
    w.u32(0x200);  // minor version
    w.u32(fourcc("isom"));
    w.u32(fourcc("iso2"));
    w.u32(fourcc("mp41"));
    w.end_atom(start);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    set_up();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned char> original;
    if (!starts_with_ftyp(data, size)) original = fixed_ftyp();
    original.insert(original.end(), data, data + size);
    if (!write_file(original)) fail("cannot write the input file");

    const int converted = run_tool(false);
    std::vector<unsigned char> now = read_file();
    if (converted == 1) {
        if (now != original) fail("a refused conversion changed the file");
    } else {
        if (run_tool(true) != 0) fail("the undo of a converted file failed");
        now = read_file();
        if (now != original) fail("the undo did not restore the original bytes");
    }
    unlink(scratch.file.c_str());
    return 0;
}
