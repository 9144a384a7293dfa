#include "tests/support/tool_runner.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

// Drains both pipes until each reports end of file, so that neither child
// stream can fill up and block the child.
void collect(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    char buf[4096];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
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

Result run(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<std::string> argv_store;
    argv_store.push_back(MORVAK_BINARY);
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);

    Pipe out_pipe, err_pipe;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe.fd[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe.fd[1], 2);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        errno = rc;
        fail(std::string("posix_spawn ") + MORVAK_BINARY);
    }
    out_pipe.close_end(1);
    err_pipe.close_end(1);

    Result result;
    collect(out_pipe.fd[0], err_pipe.fd[0], result.out, result.err);
    int wstatus = 0;
    while (::waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR) fail("waitpid");
    }
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.status = 128 + WTERMSIG(wstatus);
    }
    return result;
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/morvak_e2e.XXXXXX";
    if (::mkdtemp(tmpl) == nullptr) fail("mkdtemp");
    path_ = tmpl;
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
    const Bytes bytes = read_file(test_data_dir() + "/" + name);
    const std::string path = dir.file(name);
    write_range(path, 0, bytes);
    return path;
}

Bytes read_file(const std::string& path) { return read_range(path, 0, file_size(path)); }

Bytes read_range(const std::string& path, uint64_t offset, uint64_t len) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail("open " + path);
    Bytes out(static_cast<size_t>(len));
    size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    out.resize(done);
    return out;
}

void write_range(const std::string& path, uint64_t offset, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) fail("open " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                   static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ::close(fd);
            fail("write " + path);
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
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

}  // namespace tool
