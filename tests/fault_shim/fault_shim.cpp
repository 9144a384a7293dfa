// Fault injection for the crash tests, preloaded into the tool. Counts the
// calls that change a file (pwrite, ftruncate, fdatasync, fsync) and at the
// k-th one kills the process, writes half its bytes and then kills it, makes
// it fail with EIO, or lets the file system fill up during it (nospace): a
// write stores its first half and returns that short count, as the kernel
// does when the room runs out part way, a truncation or sync fails with
// ENOSPC:
//   MORVAK_FAULT_AT=k  MORVAK_FAULT_MODE=kill|cut|fail|nospace
//   MORVAK_FAULT_COUNT_FILE=path   receives the number of calls at a normal exit
// It also starts another writer when asked: a child that opens
// MORVAK_FAULT_WRITER for reading and writing (the test's own writer opens
// it write-only) before the n-th pread
// (MORVAK_FAULT_WRITER_AT=read:n) or the k-th counted call (change:k), writes
// the size it found to MORVAK_FAULT_WRITER_REPORT once its open has returned,
// and holds the file until the program is gone. The program goes on once
// that open has returned or its own lease has started to break (a lease keeps
// the open waiting). Only libc is used, so it loads into sanitized and plain
// builds alike.
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

unsigned long calls = 0, reads = 0;

// The number after `prefix` in the variable; 0 when unset or different.
unsigned long setting(const char* name, const char* prefix = "") {
    const char* v = getenv(name);
    return v != nullptr && strncmp(v, prefix, strlen(prefix)) == 0 ? strtoul(v + strlen(prefix), nullptr, 10) : 0;
}

void put_number(const char* path, long long n) {
    const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) dprintf(fd, "%lld\n", n), close(fd);
}

void start_writer(int fd) {
    int ready[2];
    const char* path = getenv("MORVAK_FAULT_WRITER");
    if (path == nullptr || pipe2(ready, O_CLOEXEC) != 0) return;
    const int lease = fcntl(fd, F_GETLEASE);
    const pid_t program = getpid();
    if (fork() == 0) {
        // None of the program's descriptors (leased and locked) stays open here.
        if (ready[1] > 3) close_range(3, static_cast<unsigned>(ready[1]) - 1, 0);
        close_range(static_cast<unsigned>(ready[1]) + 1, ~0u, 0);
        struct stat st {};
        const char* report = getenv("MORVAK_FAULT_WRITER_REPORT");
        if (fstat(open(path, O_RDWR | O_CLOEXEC), &st) == 0 && report != nullptr) put_number(report, st.st_size);
        const bool told = write(ready[1], "x", 1) == 1;
        for (int i = 0; told && i < 30000 && getppid() == program; ++i) usleep(1000);
        _exit(0);
    }
    close(ready[1]);
    pollfd p{ready[0], POLLIN, 0};
    for (int waited = 0; waited < 5000 && poll(&p, 1, 1) == 0; ++waited) {
        if (lease != F_UNLCK && fcntl(fd, F_GETLEASE) != lease) break;
    }
    close(ready[0]);
}

template <typename Fn> Fn next(const char* name) { return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name)); }

enum class Fault { none, fail, nospace };

// Counts a call that changes the file and tells whether and how it fails,
// errno set; a kill (after half the bytes of a cut write) happens here.
Fault fault(int fd, const void* buf = nullptr, size_t n = 0, off_t at = 0) {
    static const unsigned long fault_at = setting("MORVAK_FAULT_AT");
    static const unsigned long writer_at = setting("MORVAK_FAULT_WRITER_AT", "change:");
    const char* mode = getenv("MORVAK_FAULT_MODE");
    if (++calls == writer_at) start_writer(fd);
    if (calls != fault_at || mode == nullptr) return Fault::none;
    if (strcmp(mode, "fail") == 0) return errno = EIO, Fault::fail;
    if (strcmp(mode, "nospace") == 0) return errno = ENOSPC, Fault::nospace;
    if (strcmp(mode, "cut") == 0 && buf != nullptr) next<decltype(&pwrite)>("pwrite")(fd, buf, n / 2, at);
    kill(getpid(), SIGKILL);
    _exit(137);  // not reached
}

template <typename Fn, typename... A> int unless_faulted(const char* name, int fd, A... args) {
    return fault(fd) == Fault::none ? next<Fn>(name)(fd, args...) : -1;
}

__attribute__((destructor)) void report_count() {
    if (const char* path = getenv("MORVAK_FAULT_COUNT_FILE")) put_number(path, static_cast<long long>(calls));
}

}  // namespace

extern "C" {

ssize_t pread(int fd, void* buf, size_t n, off_t at) {
    static const unsigned long writer_at = setting("MORVAK_FAULT_WRITER_AT", "read:");
    if (++reads == writer_at) start_writer(fd);
    return next<decltype(&pread)>("pread")(fd, buf, n, at);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    const auto real = next<decltype(&pwrite)>("pwrite");
    switch (fault(fd, buf, n, at)) {
        case Fault::none: return real(fd, buf, n, at);
        case Fault::fail: return -1;
        case Fault::nospace: break;
    }
    // A single byte has no half to store: the write fails outright.
    const ssize_t stored = n / 2 > 0 ? real(fd, buf, n / 2, at) : -1;
    errno = ENOSPC;
    return stored;
}

int ftruncate(int fd, off_t length) { return unless_faulted<decltype(&ftruncate)>("ftruncate", fd, length); }
int fdatasync(int fd) { return unless_faulted<decltype(&fdatasync)>("fdatasync", fd); }
int fsync(int fd) { return unless_faulted<decltype(&fsync)>("fsync", fd); }

}  // extern "C"
