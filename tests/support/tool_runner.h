// Runs the built morvak_fragflat binary (or another program) and gives tests
// the file helpers they need around it: a private temporary directory,
// fixture copies, whole-file and byte-range reads.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace tool {

using Bytes = std::vector<unsigned char>;

[[noreturn]] inline void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

// The exit status, or 128 + the signal number when the program was killed by
// a signal (an assertion's abort shows up as 134, a run past its time as 137).
struct Result { int status = -1; std::string out, err; };

struct RunOptions {
    int timeout_seconds = 0;  // the child is killed after that; 0 waits for ever
    // "NAME=value" sets or replaces a variable of the test's environment, a
    // bare "NAME" removes it; later entries win.
    std::vector<std::string> env;
    std::string program;  // looked up in PATH; "" runs the tool
    // Caps the child's memory (an address-space limit through prlimit, or the
    // sanitizer's allocation limit in a sanitizer build) so that a runaway
    // allocation fails at once instead of swapping the machine.
    bool cap_memory = false;
};

// "ASAN_OPTIONS=" with `more` appended to the options the test runs with.
inline std::string asan_options_with(const std::string& more) {
    const char* given = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (given != nullptr && *given != '\0' ? std::string(given) + ":" : "") + more;
}

// Runs the program with `args` (its name is added): no shell, stdin from
// /dev/null, stdout and stderr to memory files, which never fill up and block
// it as a pipe would. Throws std::runtime_error when it cannot be started.
inline Result run(const std::vector<std::string>& args, const RunOptions& options = {}) {
    std::vector<std::string> argv, env, changes = options.env;
    for (char** e = environ; *e != nullptr; ++e) env.push_back(*e);
    // The sanitizer reserves far more address space than any cap would allow;
    // its own limits make an oversized allocation a report.
    if (options.cap_memory && MORVAK_SANITIZED)
        changes.push_back(asan_options_with("max_allocation_size_mb=2048:hard_rss_limit_mb=2048"));
    if (options.cap_memory && !MORVAK_SANITIZED) argv = {"prlimit", "--as=2147483648", "--"};
    if (options.timeout_seconds > 0) argv.insert(argv.end(), {"timeout", "-s", "KILL", std::to_string(options.timeout_seconds)});
    argv.push_back(options.program.empty() ? MORVAK_BINARY : options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    for (const std::string& change : changes) {
        const std::string name = change.substr(0, change.find('=')) + "=";
        env.erase(std::remove_if(env.begin(), env.end(), [&](const std::string& e) { return e.rfind(name, 0) == 0; }), env.end());
        if (change.size() >= name.size()) env.push_back(change);
    }
    std::vector<char*> argp(1, nullptr), envp(1, nullptr);  // each ends in a null
    for (std::string& s : argv) argp.insert(argp.end() - 1, s.data());
    for (std::string& s : env) envp.insert(envp.end() - 1, s.data());
    const auto contents = [](int fd) {
        std::string text(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
        if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) text.clear();
        return close(fd), text;
    };
    const int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    int wstatus = 0;
    while (rc == 0 && waitpid(pid, &wstatus, 0) < 0)
        if (errno != EINTR) fail("waitpid");
    Result result{WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), contents(out), contents(err)};
    if (rc != 0) errno = rc, fail("posix_spawn " + argv[0]);
    return result;
}

// A fresh directory (under /tmp, or `parent`), removed with everything in it
// on destruction.
class TempDir {
public:
    explicit TempDir(const std::string& parent = "/tmp") : path_(parent + "/morvak_test.XXXXXX") {
        if (::mkdtemp(path_.data()) == nullptr) fail("mkdtemp");
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // On tmpfs (/dev/shm) when it has `room` bytes free, else under /tmp.
    static TempDir on_tmpfs_if_room(uint64_t room) {
        std::error_code ec;
        return TempDir(std::filesystem::space("/dev/shm", ec).available >= room && !ec ? "/dev/shm" : "/tmp");
    }

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A file descriptor, closed on destruction. Throws std::runtime_error when
// the file cannot be opened (`flags` as for open(2); O_CLOEXEC is added).
class Fd {
public:
    Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
        if (fd_ < 0) fail("open " + path);
    }
    ~Fd() { ::close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

inline std::string test_data_dir() { return MORVAK_TEST_DATA; }

// Names of the files in the test data directory that end in `suffix`.
inline std::vector<std::string> test_data_files(const std::string& suffix) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(MORVAK_TEST_DATA))
        if (e.path().extension() == suffix) names.push_back(e.path().filename());
    return names;
}

inline uint64_t file_size(const std::string& path) { return std::filesystem::file_size(path); }

// Up to `len` bytes from `offset`; fewer when the file ends first.
inline Bytes read_range(const std::string& path, uint64_t offset, uint64_t len) {
    Bytes out(static_cast<size_t>(len));
    const ssize_t n = ::pread(Fd(path, O_RDONLY).get(), out.data(), out.size(), static_cast<off_t>(offset));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

inline Bytes read_file(const std::string& path) { return read_range(path, 0, file_size(path)); }

inline void write_range(const std::string& path, uint64_t offset, const Bytes& bytes) {
    const ssize_t n = ::pwrite(Fd(path, O_WRONLY | O_CREAT).get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n != static_cast<ssize_t>(bytes.size())) fail("write " + path);
}

// Replaces `to` with a copy of `from`.
inline void copy_file(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Copies test data file `name` into `dir`; returns the copy's path.
inline std::string copy_fixture(const std::string& name, const TempDir& dir) {
    copy_file(test_data_dir() + "/" + name, dir.file(name));
    return dir.file(name);
}

// "" when equal, else the sizes and the first offset where they differ.
inline std::string difference(const Bytes& expected, const Bytes& actual) {
    if (expected == actual) return "";
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at offset " + std::to_string(at.first - expected.begin());
}

}  // namespace tool
