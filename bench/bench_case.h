// One benchmarked file: generate it, then convert and undo it a few times
// under measurement and once more under a system call trace, checking after
// each conversion that the new moov describes every sample and after each
// undo that the file is back as it was.
#pragma once

#include <cstdint>
#include <string>

#include "bench/sample_plan.h"
#include "bench/syscall_count.h"

struct CaseResult {
    Timing timing = Timing::constant;
    uint64_t samples = 0;
    uint64_t video_samples = 0;
    uint64_t audio_samples = 0;
    uint64_t fragments = 0;
    uint64_t file_size = 0;
    // Over the timed runs: the fastest time, the highest memory and the
    // highest syscw.
    double convert_seconds = 0;
    double convert_cpu_seconds = 0;
    long convert_peak_kib = 0;
    long long convert_syscw = -1;
    double undo_seconds = 0;
    long undo_peak_kib = 0;
    long long undo_syscw = -1;
    int runs = 0;
    // From one more, traced, conversion and undo.
    SyscallCounts convert_calls;
    SyscallCounts undo_calls;
    // Writes and truncates together: every call that changes the file.
    // Where tracing is not allowed, the write calls that syscw counted.
    long long convert_writes() const {
        return convert_calls.ok ? convert_calls.writes + convert_calls.truncates : convert_syscw;
    }
    long long undo_writes() const { return undo_calls.ok ? undo_calls.writes + undo_calls.truncates : undo_syscw; }
    std::string problem;  // empty when every check passed
    bool ok() const { return problem.empty(); }
};

CaseResult run_case(const std::string& tool, const std::string& path, Timing timing, uint64_t samples, int repeat,
                    bool keep);
