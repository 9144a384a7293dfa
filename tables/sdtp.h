// sdtp, the sample dependency flags table of a track's stbl: one byte per
// sample (is_leading, depends_on, is_depended_on, has_redundancy, two bits
// each), with no entry count; the number of samples comes from the body
// length. Bytes read are kept as they are. Fragment samples are added only
// once the table exists: from the movie atom, or from the first traf that
// carries its own sdtp; samples before that get 0 (nothing known), so the
// table keeps one byte per sample. Only version 0 is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_sdtp_info {
public:
    std::vector<uint8_t> tbl;
    bool present = false;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    // Records the sample at 0-based `sample_index` of the track. The table is
    // first cut or zero-padded to that index, so it keeps exactly one byte per
    // sample even when it held more or fewer than the track's samples.
    void add_sample(uint32_t sample_flags, uint64_t sample_index);
    // Puts the byte a traf's own sdtp gives for the sample at 0-based
    // `sample_index`, creating the table when there is none.
    void set_sample(uint64_t sample_index, uint8_t byte);
    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n);

    void write_into(BeWriter& w) const;
};
