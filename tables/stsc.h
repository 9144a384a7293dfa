// stsc, the sample-to-chunk table of a track's stbl: runs of chunks that
// hold the same number of samples of the same sample description. A run
// lasts from its first_chunk to the chunk before the next run's first_chunk,
// the last run to the last chunk; the first run starts at chunk 1 whatever
// it says (as ISO has it, and as readers take it). A run that does not start
// after the run before, or only past the last chunk, covers no chunk. Only
// version 0 is read; the atom is always written.
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

    // The samples that `chunk_count` chunks hold by these runs, at most
    // UINT64_MAX.
    uint64_t samples_in(uint64_t chunk_count) const;
    // Rewrites the runs to say the same of `chunk_count` chunks in the plain
    // form (the first run from chunk 1, runs that cover no chunk dropped) and
    // cut to the first n samples: the chunk holding the n-th sample ends
    // with it, in a run of its own when it ends early. Returns the number of
    // chunks that hold those samples (every chunk when n is all of them).
    uint64_t keep_samples(uint64_t n, uint64_t chunk_count);

    void write_into(BeWriter& w) const;

private:
    // A run with the chunks it covers, its first chunk as it is taken.
    struct Span {
        qt_sample_to_chunk_t run;
        uint64_t chunks;
    };
    std::vector<Span> spans(uint64_t chunk_count) const;
};
