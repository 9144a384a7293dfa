// Runs the tool once and measures it from the outside: wall time from before
// fork until it exits, user and system time and peak resident memory from
// wait4's rusage, and its write calls, read from syscw in /proc/<pid>/io
// while the exited child is still unreaped. What it prints on standard
// error is kept.
#pragma once

#include <string>
#include <vector>

struct ChildRun {
    int exit_status = -1;  // -1 when killed (or not forked); 127 when not started
    double seconds = 0;
    double cpu_seconds = 0;
    long peak_rss_kib = 0;
    long long write_calls = -1;  // -1 when /proc/<pid>/io cannot be read
    std::string err;
};

ChildRun run_child(const std::string& program, const std::vector<std::string>& args);
