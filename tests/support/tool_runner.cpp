#include "tests/support/tool_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace tool {

namespace {

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MORVAK_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(MORVAK_TEST_ASAN)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif

std::string name_of(const std::string& entry) { return entry.substr(0, entry.find('=')); }

std::vector<std::string> environment_with(const std::vector<std::string>& changes) {
    std::vector<std::string> out;
    for (char** e = environ; *e != nullptr; ++e) out.push_back(*e);
    for (const std::string& change : changes) {
        out.erase(std::remove_if(out.begin(), out.end(), [&](const std::string& e) { return name_of(e) == name_of(change); }),
                  out.end());
        if (change.find('=') != std::string::npos) out.push_back(change);
    }
    return out;
}

std::vector<char*> c_strings(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// What the child wrote to a memory file, which never fills up and blocks
// it as a pipe would.
std::string contents(int fd) {
    std::string text(static_cast<size_t>(lseek(fd, 0, SEEK_END)), '\0');
    if (pread(fd, text.data(), text.size(), 0) != static_cast<ssize_t>(text.size())) text.clear();
    close(fd);
    return text;
}

}  // namespace

Fd::Fd(const std::string& path, int flags) : fd_(::open(path.c_str(), flags | O_CLOEXEC, 0644)) {
    if (fd_ < 0) fail("open " + path);
}

Fd::~Fd() { ::close(fd_); }

Result run(const std::vector<std::string>& args, const RunOptions& options) {
    std::vector<std::string> argv, env = options.env;
    if (options.cap_memory && kSanitizerBuild) {
        // The sanitizer reserves far more address space than any cap would
        // allow; its own limits make an oversized allocation a report.
        env.push_back(asan_options_with("max_allocation_size_mb=2048:hard_rss_limit_mb=2048"));
    } else if (options.cap_memory && executable_in_path("prlimit")) {
        argv = {"prlimit", "--as=2147483648", "--"};
    }
    argv.push_back(options.program.empty() ? MORVAK_BINARY : options.program);
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env_strings = environment_with(env);
    const int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out, 1);
    posix_spawn_file_actions_adddup2(&actions, err, 2);
    if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, options.cwd.c_str());
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, c_strings(argv).data(),
                                c_strings(env_strings).data());
    posix_spawn_file_actions_destroy(&actions);
    Result result;
    if (rc != 0) {
        close(out);
        close(err);
        errno = rc;
        fail("posix_spawn " + argv[0]);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
    int wstatus = 0;
    for (pid_t w; (w = waitpid(pid, &wstatus, options.timeout_seconds > 0 ? WNOHANG : 0)) != pid;) {
        if (w < 0 && errno != EINTR) fail("waitpid");
        if (w == 0 && std::chrono::steady_clock::now() > deadline && !result.timed_out) {
            kill(pid, SIGKILL);
            result.timed_out = true;
        }
        if (w == 0) usleep(2000);
    }
    result.status = result.timed_out ? -1 : WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = contents(out);
    result.err = contents(err);
    return result;
}

Result run(const std::vector<std::string>& args, const std::string& cwd) {
    RunOptions options;
    options.cwd = cwd;
    return run(args, options);
}

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

std::string asan_options_with(const std::string& more) {
    const char* given = std::getenv("ASAN_OPTIONS");
    return std::string("ASAN_OPTIONS=") + (given != nullptr && *given != '\0' ? std::string(given) + ":" : "") + more;
}

TempDir::TempDir() : TempDir("/tmp") {}

TempDir::TempDir(const std::string& parent) : path_(parent + "/morvak_e2e.XXXXXX") {
    if (::mkdtemp(path_.data()) == nullptr) fail("mkdtemp");
}

TempDir TempDir::on_tmpfs_if_room(uint64_t room) {
    struct statvfs fs {};
    const bool roomy = ::statvfs("/dev/shm", &fs) == 0 && uint64_t{fs.f_bavail} * fs.f_frsize >= room;
    return TempDir(roomy ? "/dev/shm" : "/tmp");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string test_data_dir() { return MORVAK_TEST_DATA; }

std::vector<std::string> test_data_files(const std::string& suffix) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(MORVAK_TEST_DATA)) {
        const std::string name = e.path().filename();
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string copy_fixture(const std::string& name, const TempDir& dir) {
    copy_file(test_data_dir() + "/" + name, dir.file(name));
    return dir.file(name);
}

Bytes read_file(const std::string& path) { return read_range(path, 0, file_size(path)); }

Bytes read_range(const std::string& path, uint64_t offset, uint64_t len) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes out(static_cast<size_t>(len));
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(len));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

void write_range(const std::string& path, uint64_t offset, const Bytes& bytes) {
    const Fd f(path, O_WRONLY | O_CREAT);
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::pwrite(f.get(), bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
        if (n <= 0) fail("write " + path);
        done += static_cast<size_t>(n);
    }
}

uint64_t file_size(const std::string& path) { return std::filesystem::file_size(path); }

uint64_t allocated_bytes(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail("stat " + path);
    return static_cast<uint64_t>(st.st_blocks) * 512u;
}

std::vector<Extent> data_extents(const std::string& path) {
    const Fd f(path, O_RDONLY);
    const uint64_t size = file_size(path);
    std::vector<Extent> out;
    for (uint64_t at = 0; at < size;) {
        const off_t data = ::lseek(f.get(), static_cast<off_t>(at), SEEK_DATA);
        if (data < 0 && errno == ENXIO) break;
        if (data < 0) return {{0, size}};
        const off_t hole = ::lseek(f.get(), data, SEEK_HOLE);
        at = hole < 0 ? size : static_cast<uint64_t>(hole);
        out.emplace_back(static_cast<uint64_t>(data), at);
    }
    return out;
}

void copy_file(const std::string& from, const std::string& to) {
    const uint64_t size = file_size(from);
    if (::ftruncate(Fd(to, O_WRONLY | O_CREAT | O_TRUNC).get(), static_cast<off_t>(size)) != 0) fail("truncate " + to);
    for (const Extent& e : data_extents(from)) write_range(to, e.first, read_range(from, e.first, e.second - e.first));
}

std::string difference(const Bytes& expected, const Bytes& actual) {
    if (expected == actual) return "";
    const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
    return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size()) +
           ", first difference at offset " + std::to_string(at.first - expected.begin());
}

}  // namespace tool
