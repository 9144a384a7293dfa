// The one file of a run, and the run's claim to be its only writer.
//
// The file is read through a read-only descriptor holding a read lease: the
// kernel refuses that lease while any process has the file open for
// writing, and breaks it when one opens the file later. Only just before the
// first write does the run open the file for writing, after checking that
// the lease is intact and the file has not grown; it then takes a write
// lease, which keeps the open of any newcomer waiting until the run ends.
// Where a lease cannot be had (a file system without leases, a file the user
// does not own, a reader already holding the file for the write lease), the
// processes of this machine are searched for other writers instead (see
// bin/other_writers.h). A writer on another machine, through a network file
// system, is seen by neither.
//
// Two runs of this tool are kept apart by an exclusive flock, on the
// read-only descriptor and then on the writable one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

enum class FileAccess {
    ok,
    not_a_file,        // not a regular file, or a symbolic link
    cannot_open,       // no read and write access
    in_use_by_run,     // another run of this tool holds the lock
    written_elsewhere, // another program has it open for writing, or it changed
};

class ExclusiveFile {
public:
    ExclusiveFile() = default;
    ExclusiveFile(const ExclusiveFile&) = delete;
    ExclusiveFile& operator=(const ExclusiveFile&) = delete;

    // Opens the file for reading, locks it and makes sure no other program
    // has it open for writing.
    FileAccess open(const std::string& path);
    // Before writing: the file must still be `expected_size` bytes long and
    // have no other writer. The first call turns the descriptor into a
    // writable one under the same number.
    FileAccess make_writable(uint64_t expected_size);
    // The same checks without opening for writing: a dry run's.
    FileAccess still_alone(uint64_t expected_size) const;

    int fd() const { return fd_; }

private:
    enum class Lease { none, read, write };

    FileAccess switch_to_writing();
    bool other_writer_seen() const;

    std::string path_;
    int fd_ = -1;
    Lease lease_ = Lease::none;
    bool writable_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// The line a refusal prints; empty for FileAccess::ok.
const char* access_refusal(FileAccess a);
