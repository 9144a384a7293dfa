#include "tests/support/tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tool {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

struct Pipe {
    int fd[2] = {-1, -1};
    Pipe() {
        if (::pipe2(fd, O_CLOEXEC) != 0) fail("pipe2");
    }
    ~Pipe() {
        for (int f : fd)
            if (f >= 0) ::close(f);
    }
    void close_end(int i) {
        ::close(fd[i]);
        fd[i] = -1;
    }
};

constexpr bool kSanitizerBuild =
#if defined(__SANITIZE_ADDRESS__)
    true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    true;
#else
    false;
#endif
#else
    false;
#endif

constexpr const char* kMemoryCap = "2147483648";  // bytes; the tool needs a few MiB
constexpr const char* kMemoryCapMiB = "2048";

std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> environment_with(const std::vector<std::string>& changes) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) out.push_back(*e);
    for (const std::string& change : changes) {
        const std::string name = name_of(change);
        out.erase(std::remove_if(out.begin(), out.end(),
                                 [&](const std::string& entry) { return name_of(entry) == name; }),
                  out.end());
        if (change.find('=') != std::string::npos) out.push_back(change);
    }
    return out;
}

// Drains both pipes until each reports end of file, so that neither child
// stream can fill up and block the child. Past the deadline, when there is
// one, the child is killed; its pipes then close.
void collect(int out_fd, int err_fd, pid_t pid, int timeout_seconds, Result& result) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buf[4096];
    while (open_count > 0) {
        int wait_ms = -1;
        if (timeout_seconds > 0 && !result.timed_out) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                ::kill(pid, SIGKILL);
                result.timed_out = true;
            } else {
                wait_ms = static_cast<int>(left.count());
            }
        }
        if (::poll(fds, 2, wait_ms) < 0) {
            if (errno == EINTR) continue;
            fail("poll");
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

int remove_entry(const char* path, const struct stat*, int, FTW*) { return ::remove(path); }

}  // namespace

Fd::Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
    if (fd_ < 0) fail("open " + path);
}

Fd::~Fd() { ::close(fd_); }

Result run(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv_store;
    std::vector<std::string> env = options.env;
    if (options.cap_memory) {
        if (kSanitizerBuild) {
            // The sanitizer reserves far more address space than any cap
            // would allow; its own limits make an oversized allocation a report.
            env.push_back(asan_options_with(std::string("max_allocation_size_mb=") + kMemoryCapMiB +
                                            ":hard_rss_limit_mb=" + kMemoryCapMiB));
        } else if (executable_in_path("prlimit")) {
            argv_store = {"prlimit", std::string("--as=") + kMemoryCap, "--"};
        }
    }
    argv_store.push_back(options.program.empty() ? MORVAK_BINARY : options.program);
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_store = environment_with(env);
    std::vector<char*> envp;
    for (std::string& e : env_store) envp.push_back(e.data());
    envp.push_back(nullptr);

    Pipe out_pipe, err_pipe;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe.fd[1], 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());

    pid_t pid = 0;
    const int rc = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        fail("posix_spawn " + argv_store.front());
    }
    out_pipe.close_end(1);
    err_pipe.close_end(1);

    Result result;
    collect(out_pipe.fd[0], err_pipe.fd[0], pid, options.timeout_seconds, result);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    if (result.timed_out) {
        result.status = -1;
    } else if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.status = 128 + WTERMSIG(wstatus);
    }
    return result;
}

Result run(const std::vector<std::string>& args, const std::string& cwd) {
    RunOptions options;
    options.cwd = cwd;
    return run(args, options);
}

std::string capture(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    return out;
}

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

std::string asan_options_with(const std::string& more) {
    const char* given = std::getenv("ASAN_OPTIONS");
    std::string options = given != nullptr ? given : "";
    if (!options.empty()) options += ":";
    return "ASAN_OPTIONS=" + options + more;
}

TempDir::TempDir() : TempDir("/tmp") {}

TempDir::TempDir(const std::string& parent) {
    std::string tmpl = parent + "/morvak_e2e.XXXXXX";
    if (::mkdtemp(tmpl.data()) == nullptr) fail("mkdtemp");
    path_ = tmpl;
}

TempDir TempDir::on_tmpfs_if_room(uint64_t room) {
    struct statvfs fs {};
    const bool roomy = ::statvfs("/dev/shm", &fs) == 0 &&
                       static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize >= room;
    return TempDir(roomy ? "/dev/shm" : "/tmp");
}

TempDir::~TempDir() {
    ::nftw(path_.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

std::string test_data_dir() { return MORVAK_TEST_DATA; }

std::vector<std::string> test_data_files(const std::string& suffix) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(MORVAK_TEST_DATA);
    if (dir == nullptr) fail(std::string("opendir ") + MORVAK_TEST_DATA);
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name.size() > suffix.size() &&
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::string copy_fixture(const std::string& name, const TempDir& dir) {
    const std::string path = dir.file(name);
    copy_file(test_data_dir() + "/" + name, path);
    return path;
}

Bytes read_file(const std::string& path) { return read_range(path, 0, file_size(path)); }

Bytes read_range(const std::string& path, uint64_t offset, uint64_t len) {
    const Fd f(path, O_RDONLY);
    Bytes out(static_cast<size_t>(len));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(f.get(), out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    out.resize(done);
    return out;
}

void write_range(const std::string& path, uint64_t offset, const Bytes& bytes) {
    const Fd f(path, O_WRONLY | O_CREAT);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(f.get(), bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail("write " + path);
        done += static_cast<size_t>(n);
    }
}

uint64_t file_size(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("stat " + path);
    return static_cast<uint64_t>(st.st_size);
}

uint64_t allocated_bytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("stat " + path);
    return static_cast<uint64_t>(st.st_blocks) * 512u;
}

std::vector<Extent> data_extents(const std::string& path) {
    const Fd f(path, O_RDONLY);
    const uint64_t size = file_size(path);
    std::vector<Extent> out;
    uint64_t at = 0;
    while (at < size) {
        const off_t data = ::lseek(f.get(), static_cast<off_t>(at), SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;
            return {{0, size}};
        }
        const off_t hole = ::lseek(f.get(), data, SEEK_HOLE);
        const uint64_t end = hole < 0 ? size : static_cast<uint64_t>(hole);
        out.emplace_back(static_cast<uint64_t>(data), end);
        at = end;
    }
    return out;
}

void copy_file(const std::string& from, const std::string& to) {
    const uint64_t size = file_size(from);
    {
        const Fd out(to, O_WRONLY | O_CREAT | O_TRUNC);
        if (::ftruncate(out.get(), static_cast<off_t>(size)) != 0) fail("ftruncate " + to);
    }
    for (const Extent& e : data_extents(from)) write_range(to, e.first, read_range(from, e.first, e.second - e.first));
}

std::string difference(const Bytes& expected, const Bytes& actual) {
    if (expected == actual) return "";
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at offset " + std::to_string(at.first - expected.begin());
}

}  // namespace tool
