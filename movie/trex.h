// trex, the track extends box of moov/mvex: one track's defaults for the
// samples of its fragments, used when neither the run nor the track fragment
// header gives a value. Only version 0 with its full 24-byte body is read; any
// other body leaves the record as the caller prepared it (all zero).
#pragma once

#include <cstddef>
#include <cstdint>

struct qt_trex_info {
    uint32_t track_ID = 0;
    uint32_t default_sample_description_index = 0;
    uint32_t default_sample_duration = 0;
    uint32_t default_sample_size = 0;
    uint32_t default_sample_flags = 0;

    void parse_atom_data(const unsigned char* data, size_t len);
};
