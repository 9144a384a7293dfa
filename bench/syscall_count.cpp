#include "bench/syscall_count.h"

#include <sys/ptrace.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdio>

namespace {

void* as_data(uintptr_t v) { return reinterpret_cast<void*>(v); }

void tally(unsigned long long nr, SyscallCounts& c) {
    switch (nr) {
        case SYS_write:
        case SYS_pwrite64:
        case SYS_writev:
        case SYS_pwritev:
        case SYS_pwritev2: ++c.writes; break;
        case SYS_ftruncate:
        case SYS_truncate:
        case SYS_fallocate: ++c.truncates; break;
        case SYS_fsync:
        case SYS_fdatasync:
        case SYS_sync_file_range:
        case SYS_syncfs: ++c.syncs; break;
        default: break;
    }
}

}  // namespace

SyscallCounts count_syscalls(const std::string& program, const std::vector<std::string>& args) {
    SyscallCounts c;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) return c;
    if (pid == 0) {
        // Stop until the parent has set its options, then run the tool.
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
        raise(SIGSTOP);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFSTOPPED(status)) return c;
    bool exec_seen = false;
    int deliver = 0;
    const long options = PTRACE_O_TRACESYSGOOD | PTRACE_O_TRACEEXEC | PTRACE_O_EXITKILL;
    // Without the options the exec could not be told apart: give up before it.
    const bool tracing = ptrace(PTRACE_SETOPTIONS, pid, nullptr, as_data(static_cast<uintptr_t>(options))) == 0;
    while (tracing) {
        if (ptrace(PTRACE_SYSCALL, pid, nullptr, as_data(static_cast<uintptr_t>(deliver))) != 0) break;
        deliver = 0;
        if (waitpid(pid, &status, 0) != pid) break;
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            c.ok = exec_seen;
            c.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return c;
        }
        if (!WIFSTOPPED(status)) continue;
        const int sig = WSTOPSIG(status);
        if (sig == (SIGTRAP | 0x80)) {
            __ptrace_syscall_info info{};
            // Only the tool's own calls count, not the launch before exec.
            if (exec_seen && ptrace(PTRACE_GET_SYSCALL_INFO, pid, as_data(sizeof info), &info) > 0 &&
                info.op == PTRACE_SYSCALL_INFO_ENTRY) {
                tally(info.entry.nr, c);
            }
        } else if (sig == SIGTRAP && (status >> 16) == PTRACE_EVENT_EXEC) {
            exec_seen = true;
            c.traced = true;
        } else if (sig != SIGTRAP) {
            deliver = sig;  // the child's own signal, passed on
        }
    }
    // Tracing broke down: do not leave the child behind.
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return c;
}
