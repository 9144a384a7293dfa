// The synthetic recording the bench measures: a 30 fps video track in 2 s
// fragments (I, P and B frames with composition offsets) and a 44.1 kHz
// audio track of 1024-sample frames over the same time, built with the test
// MP4 builder and written as a sparse file: every header and moof is
// written, every media payload is left as a hole. It ends in an mfra: an
// index of every fragment for the indexed kind, its mfro alone otherwise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class Kind {
    constant,  // every video frame lasts 1000 ticks
    varying,   // 997..1003 ticks, never twice the same in a row
    indexed,   // as constant, with an mfra that names every fragment
};

const char* kind_name(Kind t);

// A stretch of the file that holds written bytes; the rest are holes.
struct Region {
    uint64_t offset;
    uint64_t length;
};

struct Recording {
    uint64_t size = 0;
    uint64_t video_samples = 0;
    uint64_t audio_samples = 0;
    uint64_t fragments = 0;
    std::vector<Region> written;
};

// total_samples counts both tracks together. False, with a reason, when the
// file cannot be written.
bool write_recording(const std::string& path, Kind kind, uint64_t total_samples, Recording& out,
                     std::string& error);
