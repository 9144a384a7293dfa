// Counts the tool's file-changing system calls exactly, by tracing it with
// ptrace: write, pwrite64, writev, pwritev(2) and the truncates and
// fallocate, and separately the syncs. Tracing slows the child, so this run
// is kept apart from the timed ones.
#pragma once

#include <string>
#include <vector>

struct SyscallCounts {
    bool traced = false;  // the tool started under the trace
    bool ok = false;      // and was traced to its end
    int exit_status = -1;
    long long writes = 0;     // write family: the calls that /proc/<pid>/io counts as syscw
    long long truncates = 0;  // ftruncate, truncate, fallocate
    long long syncs = 0;      // fsync, fdatasync, sync_file_range, syncfs
};

SyscallCounts count_syscalls(const std::string& program, const std::vector<std::string>& args);
