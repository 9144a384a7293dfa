// Fault injection for crash tests, loaded with LD_PRELOAD. Counts the calls
// that change a file (positioned and plain writes, truncation, syncs) and,
// at the k-th one, kills the process, cuts the write in half and then kills
// it, or makes the call fail without doing anything.
//
//   MORVAK_FAULT_AT=k            1-based index of the call to fault; unset: count only
//   MORVAK_FAULT_MODE=kill|cut|fail
//   MORVAK_FAULT_ERRNO=EIO|ENOSPC    errno of a failed call (EIO by default)
//   MORVAK_FAULT_COUNT_FILE=path     at normal exit, the number of calls made
//   MORVAK_FAULT_CUT_BYTES=n         bytes a cut write keeps (half by default)
//
// It can also start another writer in the middle of a run: a helper process
// that opens a file for writing and holds it open until the program is gone.
//
//   MORVAK_FAULT_WRITER=path             the file the helper opens
//   MORVAK_FAULT_WRITER_AT=read:n        before the n-th positioned read, or
//                         change:k       before the k-th counted call
//   MORVAK_FAULT_WRITER_REPORT=path      the helper writes there the file's
//                                        size once its open has returned
// The program goes on once the helper's open has returned, or has started
// to break the program's lease on the descriptor of the call (a lease keeps
// the open waiting).
//
// Plain writes to descriptors 0..2 are not counted: they are the program's
// messages, not file changes. Only libc is used, so the library can be
// preloaded into any program, sanitized or not.
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum class Mode { count_only, kill, cut, fail };

using pread_fn = ssize_t (*)(int, void*, size_t, off_t);
using pread64_fn = ssize_t (*)(int, void*, size_t, off64_t);
using pwrite_fn = ssize_t (*)(int, const void*, size_t, off_t);
using pwrite64_fn = ssize_t (*)(int, const void*, size_t, off64_t);
using write_fn = ssize_t (*)(int, const void*, size_t);
using ftruncate_fn = int (*)(int, off_t);
using ftruncate64_fn = int (*)(int, off64_t);
using sync_fn = int (*)(int);

struct Config {
    bool loaded = false;
    Mode mode = Mode::count_only;
    unsigned long at = 0;
    int error = EIO;
    long cut_bytes = -1;  // half
    const char* count_file = nullptr;
    const char* writer = nullptr;
    const char* writer_report = nullptr;
    unsigned long writer_at_read = 0;
    unsigned long writer_at_call = 0;
};

Config config;
unsigned long calls = 0;
unsigned long reads = 0;

template <typename Fn>
Fn next_symbol(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

const Config& settings() {
    if (config.loaded) return config;
    config.loaded = true;
    config.count_file = getenv("MORVAK_FAULT_COUNT_FILE");
    config.writer = getenv("MORVAK_FAULT_WRITER");
    config.writer_report = getenv("MORVAK_FAULT_WRITER_REPORT");
    if (const char* when = getenv("MORVAK_FAULT_WRITER_AT")) {
        if (strncmp(when, "read:", 5) == 0) config.writer_at_read = strtoul(when + 5, nullptr, 10);
        if (strncmp(when, "change:", 7) == 0) config.writer_at_call = strtoul(when + 7, nullptr, 10);
    }
    const char* at = getenv("MORVAK_FAULT_AT");
    const char* mode = getenv("MORVAK_FAULT_MODE");
    const char* error = getenv("MORVAK_FAULT_ERRNO");
    if (at == nullptr || mode == nullptr) return config;
    config.at = strtoul(at, nullptr, 10);
    if (strcmp(mode, "kill") == 0) config.mode = Mode::kill;
    else if (strcmp(mode, "cut") == 0) config.mode = Mode::cut;
    else if (strcmp(mode, "fail") == 0) config.mode = Mode::fail;
    if (error != nullptr && strcmp(error, "ENOSPC") == 0) config.error = ENOSPC;
    if (const char* cut = getenv("MORVAK_FAULT_CUT_BYTES")) config.cut_bytes = strtol(cut, nullptr, 10);
    return config;
}

[[noreturn]] void die() {
    kill(getpid(), SIGKILL);
    _exit(137);  // not reached: SIGKILL cannot be caught
}

write_fn real_write() {
    static write_fn real = nullptr;
    if (real == nullptr) real = next_symbol<write_fn>("write");
    return real;
}

// The helper: every inherited descriptor but its pipe closed (the program's
// own, leased and locked, must not stay open through it), the file opened
// for writing, its size reported, and the file held until the program ends.
[[noreturn]] void be_the_writer(pid_t program, int ready) {
    if (ready > 3) close_range(3, static_cast<unsigned>(ready) - 1, 0);
    close_range(static_cast<unsigned>(ready) + 1, ~0u, 0);
    const int fd = open(settings().writer, O_WRONLY | O_CLOEXEC);
    struct stat st {};
    if (fd >= 0 && fstat(fd, &st) == 0 && settings().writer_report != nullptr) {
        const int report = open(settings().writer_report, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        char text[32];
        const int len = snprintf(text, sizeof text, "%lld\n", static_cast<long long>(st.st_size));
        if (report >= 0 && len > 0) real_write()(report, text, static_cast<size_t>(len));
        if (report >= 0) close(report);
    }
    real_write()(ready, "x", 1);
    for (int i = 0; i < 30000 && getppid() == program; ++i) usleep(1000);
    _exit(0);
}

void start_writer(int fd) {
    int ready[2];
    if (settings().writer == nullptr || pipe2(ready, O_CLOEXEC) != 0) return;
    const int lease = fcntl(fd, F_GETLEASE);
    const pid_t program = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        be_the_writer(program, ready[1]);
    }
    close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    for (int waited = 0; pid > 0 && waited < 5000; ++waited) {
        if (poll(&p, 1, 1) > 0) break;
        if (lease != F_UNLCK && fcntl(fd, F_GETLEASE) != lease) break;
    }
    close(ready[0]);
}

enum class Action { pass, cut, fail };

size_t cut_length(size_t n) {
    const long keep = settings().cut_bytes;
    if (keep < 0) return n / 2;
    return static_cast<size_t>(keep) < n ? static_cast<size_t>(keep) : n;
}

// Counts one mutating call and says what to do with it; kills the process
// here when that is what the call gets.
Action on_call(bool is_write, int fd) {
    const Config& c = settings();
    const unsigned long index = ++calls;
    if (index == c.writer_at_call) start_writer(fd);
    if (c.mode == Mode::count_only || index != c.at) return Action::pass;
    if (c.mode == Mode::fail) return Action::fail;
    if (c.mode == Mode::cut && is_write) return Action::cut;
    die();
}

template <typename Fn, typename Off>
ssize_t positioned_write(const char* name, int fd, const void* buf, size_t n, Off offset) {
    static Fn real = nullptr;
    if (real == nullptr) real = next_symbol<Fn>(name);
    switch (on_call(true, fd)) {
        case Action::pass:
            return real(fd, buf, n, offset);
        case Action::fail:
            errno = settings().error;
            return -1;
        case Action::cut:
            real(fd, buf, cut_length(n), offset);
            die();
    }
    return -1;
}

template <typename Fn, typename Off>
int truncation(const char* name, int fd, Off length) {
    static Fn real = nullptr;
    if (real == nullptr) real = next_symbol<Fn>(name);
    if (on_call(false, fd) == Action::fail) {
        errno = settings().error;
        return -1;
    }
    return real(fd, length);
}

int synchronisation(sync_fn& real, const char* name, int fd) {
    if (real == nullptr) real = next_symbol<sync_fn>(name);
    if (on_call(false, fd) == Action::fail) {
        errno = settings().error;
        return -1;
    }
    return real(fd);
}

template <typename Fn, typename Off>
ssize_t positioned_read(const char* name, int fd, void* buf, size_t n, Off offset) {
    static Fn real = nullptr;
    if (real == nullptr) real = next_symbol<Fn>(name);
    if (++reads == settings().writer_at_read) start_writer(fd);
    return real(fd, buf, n, offset);
}

__attribute__((destructor)) void report_count() {
    const char* path = settings().count_file;
    if (path == nullptr) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return;
    char text[32];
    const int len = snprintf(text, sizeof text, "%lu\n", calls);
    if (len > 0) real_write()(fd, text, static_cast<size_t>(len));
    close(fd);
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) ssize_t pread(int fd, void* buf, size_t n, off_t offset) {
    return positioned_read<pread_fn>("pread", fd, buf, n, offset);
}

__attribute__((visibility("default"))) ssize_t pread64(int fd, void* buf, size_t n, off64_t offset) {
    return positioned_read<pread64_fn>("pread64", fd, buf, n, offset);
}

__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void* buf, size_t n, off_t offset) {
    return positioned_write<pwrite_fn>("pwrite", fd, buf, n, offset);
}

__attribute__((visibility("default"))) ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t offset) {
    return positioned_write<pwrite64_fn>("pwrite64", fd, buf, n, offset);
}

__attribute__((visibility("default"))) ssize_t write(int fd, const void* buf, size_t n) {
    write_fn real = real_write();
    if (fd <= 2) return real(fd, buf, n);
    switch (on_call(true, fd)) {
        case Action::pass:
            return real(fd, buf, n);
        case Action::fail:
            errno = settings().error;
            return -1;
        case Action::cut:
            real(fd, buf, cut_length(n));
            die();
    }
    return -1;
}

__attribute__((visibility("default"))) int ftruncate(int fd, off_t length) {
    return truncation<ftruncate_fn>("ftruncate", fd, length);
}

__attribute__((visibility("default"))) int ftruncate64(int fd, off64_t length) {
    return truncation<ftruncate64_fn>("ftruncate64", fd, length);
}

__attribute__((visibility("default"))) int fdatasync(int fd) {
    static sync_fn real = nullptr;
    return synchronisation(real, "fdatasync", fd);
}

__attribute__((visibility("default"))) int fsync(int fd) {
    static sync_fn real = nullptr;
    return synchronisation(real, "fsync", fd);
}

}  // extern "C"
