// Runs the tool once and measures it from the outside: wall time from
// before fork until it exits, peak resident memory from wait4's rusage, and
// the write system calls it made, read from /proc/<pid>/io (syscw) while
// the exited child is still unreaped.
#pragma once

#include <string>
#include <vector>

struct ChildRun {
    bool started = false;
    int exit_status = -1;     // -1 when killed by a signal
    double seconds = 0;
    double cpu_seconds = 0;  // user and system time
    long peak_rss_kib = 0;
    long long write_calls = -1;  // -1 when /proc/<pid>/io cannot be read
};

ChildRun run_child(const std::string& program, const std::vector<std::string>& args);
