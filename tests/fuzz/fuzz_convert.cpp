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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <iterator>

#include "bin/driver.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/support/mp4_builder.h"

// The program's inline coverage counters (coverage_counters.cpp); null and 0
// without them.
uint8_t* coverage_counters();
size_t coverage_counters_size();

namespace {

// Exit statuses of the child for what the driver itself never returns.
constexpr int kSanitizerReport = 86, kLeakReport = 87;

std::string file;                 // the file the tool works on
unsigned char* shared = nullptr;  // the child's coverage counters, copied back

// Runs the conversion or the undo in a child; returns its status, 0 or 1.
int run_tool(bool undo) {
    if (shared != nullptr) std::memset(shared, 0, coverage_counters_size());
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (std::getenv("MORVAK_FUZZ_VERBOSE") == nullptr) {
            dup2(open("/dev/null", O_WRONLY), STDOUT_FILENO);
            dup2(STDOUT_FILENO, STDERR_FILENO);
        }
        std::signal(SIGALRM, SIG_DFL);  // a hang ends the child; the parent sees the signal
        alarm(30);
        __sanitizer_set_death_callback([] { _exit(kSanitizerReport); });
        std::string args[] = {"morvak_fragflat", "-f", file, "--undo"};
        char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
        int status = run_driver(undo ? 4 : 3, argv);
        if (__lsan_do_recoverable_leak_check() != 0) status = kLeakReport;
        std::fflush(nullptr);
        if (shared != nullptr) std::memcpy(shared, coverage_counters(), coverage_counters_size());
        _exit(status);
    }
    int status = 0;
    fuzz::require(pid > 0, "cannot fork");
    while (waitpid(pid, &status, 0) != pid) fuzz::require(errno == EINTR, "cannot wait for the tool");
    for (size_t i = 0; shared != nullptr && i < coverage_counters_size(); ++i)
        coverage_counters()[i] = std::max(coverage_counters()[i], shared[i]);
    fuzz::require(WIFEXITED(status), "the tool was killed by a signal");
    fuzz::require(WEXITSTATUS(status) != kSanitizerReport, "sanitizer report from the tool");
    fuzz::require(WEXITSTATUS(status) != kLeakReport, "the tool leaked memory");
    fuzz::require(WEXITSTATUS(status) <= 1, "exit status other than 0 or 1");
    return WEXITSTATUS(status);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The tool wants more than 512 MiB free next to the file: /dev/shm when
    // it has 1 GiB, else /tmp, or $MORVAK_FUZZ_TMPDIR.
    const char* dir = std::getenv("MORVAK_FUZZ_TMPDIR");
    const bool shm = std::filesystem::space("/dev/shm").available > (uint64_t{1} << 30);
    file = std::string(dir != nullptr ? dir : shm ? "/dev/shm" : "/tmp") + "/morvak_fuzz_convert." +
           std::to_string(getpid()) + ".mp4";
    std::atexit([] { unlink(file.c_str()); });
    void* m = mmap(nullptr, coverage_counters_size(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (coverage_counters_size() != 0 && m != MAP_FAILED) shared = static_cast<unsigned char*>(m);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Without an ftyp of its own the input would stop at the brand check.
    std::vector<unsigned char> original;
    if (size < 8 || be::read_u32(data + 4) != mp4b::fourcc_of("ftyp"))
        original = mp4b::serialise(mp4b::ftyp("isom", 0x200, {"isom", "iso2", "mp41"}));
    original.insert(original.end(), data, data + size);
    mp4b::write_bytes(file, original);
    const auto read_back = [] {
        std::ifstream in(file, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    if (run_tool(false) == 1) {
        fuzz::require(read_back() == original, "a refused conversion changed the file");
    } else {
        fuzz::require(run_tool(true) == 0, "the undo of a converted file failed");
        fuzz::require(read_back() == original, "the undo did not restore the original bytes");
    }
    return 0;
}
