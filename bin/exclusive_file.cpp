#include "bin/exclusive_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "bin/other_writers.h"

namespace {

constexpr int kOpenFlags = O_NOCTTY | O_NOFOLLOW | O_CLOEXEC;

bool size_is(int fd, uint64_t expected) {
    struct stat st;
    return fstat(fd, &st) == 0 && st.st_size >= 0 && static_cast<uint64_t>(st.st_size) == expected;
}

bool take_lease(int fd, int type) { return fcntl(fd, F_SETLEASE, type) == 0; }

}  // namespace

FileAccess ExclusiveFile::open(const std::string& path) {
    path_ = path;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return FileAccess::not_a_file;
    // Reading leaves the access time as it was where the kernel allows it
    // (the file's owner, or root): a dry run leaves every timestamp alone.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NOATIME | kOpenFlags);
    if (fd_ < 0 && errno == EPERM) fd_ = ::open(path.c_str(), O_RDONLY | kOpenFlags);
    if (fd_ < 0) return FileAccess::cannot_open;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return FileAccess::not_a_file;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    // Asked without opening for writing, which would break other programs'
    // leases and tell file watchers that the file was written.
    if (access(path.c_str(), R_OK | W_OK) != 0) return FileAccess::cannot_open;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return FileAccess::in_use_by_run;

    // A broken lease is read from the lease itself; the signal that announces
    // the break would otherwise end the process.
    signal(SIGIO, SIG_IGN);
    if (take_lease(fd_, F_RDLCK)) {
        lease_ = Lease::read;
        return FileAccess::ok;
    }
    if (errno == EAGAIN) return FileAccess::written_elsewhere;
    return other_writer_seen() ? FileAccess::written_elsewhere : FileAccess::ok;
}

FileAccess ExclusiveFile::make_writable(uint64_t expected_size) {
    if (!writable_) {
        if (other_writer_seen() || !size_is(fd_, expected_size)) return FileAccess::written_elsewhere;
        const FileAccess a = switch_to_writing();
        if (a != FileAccess::ok) return a;
    }
    if (other_writer_seen() || !size_is(fd_, expected_size)) return FileAccess::written_elsewhere;
    return FileAccess::ok;
}

FileAccess ExclusiveFile::still_alone(uint64_t expected_size) const {
    return other_writer_seen() || !size_is(fd_, expected_size) ? FileAccess::written_elsewhere : FileAccess::ok;
}

FileAccess ExclusiveFile::switch_to_writing() {
    // Our own open for writing would break our read lease.
    if (lease_ == Lease::read) take_lease(fd_, F_UNLCK);
    lease_ = Lease::none;
    const int w = ::open(path_.c_str(), O_RDWR | kOpenFlags);
    if (w < 0) return FileAccess::cannot_open;
    struct stat st;
    // The name may have been given to another file since it was opened.
    if (fstat(w, &st) != 0 || st.st_dev != dev_ || st.st_ino != ino_ || dup3(w, fd_, O_CLOEXEC) < 0) {
        close(w);
        return FileAccess::cannot_open;
    }
    // The read-only description went with its lock; the atom stack reads on
    // through the same descriptor number.
    close(w);
    writable_ = true;
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) return FileAccess::in_use_by_run;
    // Granted only while no other process has the file open at all.
    if (take_lease(fd_, F_WRLCK)) lease_ = Lease::write;
    return FileAccess::ok;
}

bool ExclusiveFile::other_writer_seen() const {
    switch (lease_) {
        case Lease::read:
            return fcntl(fd_, F_GETLEASE) != F_RDLCK;
        case Lease::write:
            // A reader's open breaks a write lease down to a read lease: no
            // writer. A writer's open, or a break left pending too long, ends it.
            return fcntl(fd_, F_GETLEASE) == F_UNLCK;
        case Lease::none:
            break;
    }
    return another_process_writes(dev_, ino_);
}

const char* access_refusal(FileAccess a) {
    switch (a) {
        case FileAccess::ok: return "";
        case FileAccess::not_a_file: return "Not a file\n";
        case FileAccess::cannot_open: return "Unable to open file for r/w\n";
        case FileAccess::in_use_by_run: return "File is in use by another run of morvak_fragflat\n";
        case FileAccess::written_elsewhere: return "File is open for writing in another program\n";
    }
    return "";
}
