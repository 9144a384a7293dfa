// The whole tool on a file: the input becomes a file (behind a fixed ftyp
// unless it starts with one), the conversion runs on it, and then the undo.
// The exit status must be 0 or 1; a refusal must leave the file exactly as
// it was, and a conversion must be undone back to the very same bytes.
//
// The driver keeps process-wide state and runs once per process, so each run
// happens in a forked child that exits with the driver's status. The child's
// coverage counters are copied back through shared memory, so that the
// fuzzer is guided by the driver's code and not only by this harness. The
// tool's messages go to /dev/null unless MORVAK_FUZZ_VERBOSE is set, as when
// a reproducer is run again to see them.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "bin/driver.h"
#include "tests/support/mp4_builder.h"

// The program's inline coverage counters (coverage_counters.cpp); null and 0
// without them.
uint8_t* coverage_counters();
size_t coverage_counters_size();

namespace {

// Exit statuses of the child for what the driver itself never returns.
constexpr int kSanitizerReport = 86, kLeakReport = 87;

std::string file;                // the file the tool works on
uint8_t* counters = nullptr;     // this process's coverage counters
unsigned char* shared = nullptr;  // the child's, copied back
size_t counters_len = 0;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s (MORVAK_FUZZ_VERBOSE=1 shows the tool's output)\n", what);
    std::abort();
}

std::vector<unsigned char> read_back() {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

[[noreturn]] void child(bool undo) {
    if (std::getenv("MORVAK_FUZZ_VERBOSE") == nullptr) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    std::signal(SIGALRM, SIG_DFL);  // a hang ends the child; the parent sees the signal
    alarm(30);
    __sanitizer_set_death_callback([] { _exit(kSanitizerReport); });
    std::string args[] = {"morvak_fragflat", "-f", file, "--undo"};
    char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
    int status = run_driver(undo ? 4 : 3, argv);
    if (__lsan_do_recoverable_leak_check() != 0) status = kLeakReport;
    std::fflush(nullptr);
    if (shared != nullptr) std::memcpy(shared, counters, counters_len);
    _exit(status);
}

// Runs the conversion or the undo in a child; returns its status, 0 or 1.
int run_tool(bool undo) {
    if (shared != nullptr) std::memset(shared, 0, counters_len);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) child(undo);
    int status = 0;
    if (pid < 0) fail("cannot fork");
    while (waitpid(pid, &status, 0) != pid)
        if (errno != EINTR) fail("cannot wait for the tool");
    for (size_t i = 0; shared != nullptr && i < counters_len; ++i) counters[i] = std::max(counters[i], shared[i]);
    if (!WIFEXITED(status)) fail("the tool was killed by a signal");
    if (WEXITSTATUS(status) == kSanitizerReport) fail("sanitizer report from the tool");
    if (WEXITSTATUS(status) == kLeakReport) fail("the tool leaked memory");
    if (WEXITSTATUS(status) > 1) fail("exit status other than 0 or 1");
    return WEXITSTATUS(status);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The tool wants more than 512 MiB free next to the file: /dev/shm when
    // it has 1 GiB, else /tmp, or $MORVAK_FUZZ_TMPDIR.
    struct statvfs fs;
    const bool shm = statvfs("/dev/shm", &fs) == 0 && uint64_t{fs.f_frsize} * fs.f_bavail > (uint64_t{1} << 30);
    const char* dir = std::getenv("MORVAK_FUZZ_TMPDIR");
    file = std::string(dir != nullptr ? dir : shm ? "/dev/shm" : "/tmp") + "/morvak_fuzz_convert." +
           std::to_string(getpid()) + ".mp4";
    std::atexit([] { unlink(file.c_str()); });
    counters = coverage_counters();
    counters_len = coverage_counters_size();
    void* m = counters != nullptr ? mmap(nullptr, counters_len, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0)
                                  : MAP_FAILED;
    if (m != MAP_FAILED) shared = static_cast<unsigned char*>(m);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Without an ftyp of its own the input would stop at the brand check.
    std::vector<unsigned char> original;
    if (size < 8 || be::read_u32(data + 4) != fourcc("ftyp"))
        original = mp4b::serialise(mp4b::ftyp("isom", 0x200, {"isom", "iso2", "mp41"}));
    original.insert(original.end(), data, data + size);
    mp4b::write_bytes(file, original);
    if (run_tool(false) == 1) {
        if (read_back() != original) fail("a refused conversion changed the file");
    } else if (run_tool(true) != 0) {
        fail("the undo of a converted file failed");
    } else if (read_back() != original) {
        fail("the undo did not restore the original bytes");
    }
    return 0;
}
