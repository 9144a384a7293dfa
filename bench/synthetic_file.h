// Writes a synthetic fragmented recording as a sparse file: every atom
// header and moof is written, every media payload is left as a hole, so a
// file of many gigabytes takes a few megabytes of disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/sample_plan.h"

// A stretch of the file that holds written bytes; the rest are holes.
struct WrittenRegion {
    uint64_t offset;
    uint64_t length;
};

struct SyntheticFile {
    std::string path;
    Timing timing = Timing::constant;
    uint64_t size = 0;
    uint64_t video_samples = 0;
    uint64_t audio_samples = 0;
    uint64_t fragments = 0;
    std::vector<WrittenRegion> written;
    uint64_t samples() const { return video_samples + audio_samples; }
};

// False, with a reason, when the file cannot be written.
bool write_synthetic_file(const std::string& path, Timing timing, uint64_t total_samples, SyntheticFile& out,
                          std::string& error);
