// The bytes of one fragment as a recorder writes them: a moof with one traf
// per track (video first), then the mdat header. The media payload itself
// is not built: the caller leaves a hole of payload_bytes after the header.
#pragma once

#include <cstdint>
#include <vector>

#include "bench/sample_plan.h"

struct FragmentBytes {
    std::vector<unsigned char> head;  // moof and mdat header
    uint64_t payload_bytes = 0;
};

// moof_offset is the file position where the moof will stand; the track
// fragments give it as their base data offset, as most recorders do.
void build_fragment(const PlannedFragment& fragment, uint64_t moof_offset, FragmentBytes& out);
