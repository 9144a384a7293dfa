#include "bench/child_run.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

long long read_syscw(pid_t pid) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/io", static_cast<int>(pid));
    FILE* f = std::fopen(path, "r");
    if (f == nullptr) return -1;
    long long value = -1;
    char line[128];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "syscw:", 6) == 0) value = std::atoll(line + 6);
    }
    std::fclose(f);
    return value;
}

double seconds_of(const struct timeval& tv) {
    return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6;
}

}  // namespace

ChildRun run_child(const std::string& program, const std::vector<std::string>& args) {
    ChildRun run;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) return run;
    if (pid == 0) {
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    // Wait for the exit but leave the child unreaped, so that its I/O
    // counters can still be read.
    siginfo_t info;
    std::memset(&info, 0, sizeof info);
    while (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0) {
        if (errno != EINTR) break;
    }
    const auto end = std::chrono::steady_clock::now();
    run.write_calls = read_syscw(pid);

    int status = 0;
    struct rusage usage;
    std::memset(&usage, 0, sizeof usage);
    while (wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR) return run;
    }
    run.started = true;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    run.peak_rss_kib = usage.ru_maxrss;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}
