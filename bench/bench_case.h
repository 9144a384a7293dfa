// One benchmarked file: generate it, then convert and undo it a few times
// under measurement, checking after each conversion that the new moov
// describes every sample and after each undo that the file is back as it was.
#pragma once

#include <cstdint>
#include <string>

#include "bench/child_run.h"
#include "bench/recording.h"

struct CaseResult {
    Kind kind = Kind::constant;
    Recording file;
    // Over the runs: the fastest times, the highest memory and write counts.
    ChildRun convert;
    ChildRun undo;
    // The conversion's reads of the file, as the tool counts them (-1: not
    // reported), and the floor: every top-level header and every moof read
    // one after another, by the bench, on the same warm cache.
    long long reads = -1;
    long long floor_reads = 0;
    double floor_seconds = 0;
    int runs = 0;
    std::string problem;  // empty when every check passed

    uint64_t samples() const { return file.video_samples + file.audio_samples; }
    bool ok() const { return problem.empty(); }
};

CaseResult run_case(const std::string& tool, const std::string& path, Kind kind, uint64_t samples, int repeat,
                    bool keep);
