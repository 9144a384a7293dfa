#include "bench/child_run.h"

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

namespace {

long long read_syscw(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    long long value = -1;
    while (io >> key >> value) {
        if (key == "syscw:") return value;
    }
    return -1;
}

double seconds_of(const timeval& tv) { return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) / 1e6; }

}  // namespace

ChildRun run_child(const std::string& program, const std::vector<std::string>& args) {
    ChildRun run;
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const int err = memfd_create("err", MFD_CLOEXEC);
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) return close(err), run;
    if (pid == 0) {
        dup2(err, 2);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    // Wait for the exit but leave the child unreaped, so that its I/O
    // counters can still be read. The bench sets no signal handler, so no
    // wait is interrupted.
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT);
    const auto end = std::chrono::steady_clock::now();
    run.write_calls = read_syscw(pid);
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) return run;
    run.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.seconds = std::chrono::duration<double>(end - start).count();
    run.cpu_seconds = seconds_of(usage.ru_utime) + seconds_of(usage.ru_stime);
    run.peak_rss_kib = usage.ru_maxrss;
    run.err.resize(static_cast<size_t>(lseek(err, 0, SEEK_END)));
    if (pread(err, run.err.data(), run.err.size(), 0) != static_cast<ssize_t>(run.err.size())) run.err.clear();
    close(err);
    return run;
}
