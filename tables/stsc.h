// stsc, the sample-to-chunk table of a track's stbl: runs of chunks that
// hold the same number of samples of the same sample description. A run
// lasts from its first_chunk to the chunk before the next run's first_chunk,
// the last run to the last chunk. Runs read from the file are kept exactly;
// they are not checked against the chunk offsets. Only version 0 is read;
// the atom is always written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_sample_to_chunk_t {
    uint32_t first_chunk;               // 1-based
    uint32_t samples_per_chunk;
    uint32_t sample_description_index;  // 1-based
};

class qt_stsc_info {
public:
    std::vector<qt_sample_to_chunk_t> tbl;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    // Accounts one appended chunk, `chunk_number` 1-based. A description
    // index of 0 (fragments that leave it to the defaults) means 1.
    void addChunk(uint64_t chunk_number, uint32_t samples, uint32_t sample_description_index);

    void write_into(BeWriter& w) const;
};
