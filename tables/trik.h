// trik, the trick play box (in a track's stbl, or in a traf): one byte per
// sample, pic_type in its top 2 bits and dependency_level in the other 6,
// with no entry count; the number of samples comes from the body length.
// Bytes read are kept as they are. As with sdtp, fragment samples are added
// once the table exists, from the movie atom or from the first traf that
// carries a trik: samples before it, and those of trafs without one, get 0
// (nothing known), so that the table keeps one byte per sample. Only version
// 0 is read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_trik_info {
public:
    std::vector<uint8_t> tbl;
    bool present = false;

    void clear();
    // False, with the table cleared, for a body it cannot read: the caller
    // keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    // Puts the byte of the sample at 0-based `sample_index`, creating the
    // table when there is none.
    void set_sample(uint64_t sample_index, uint8_t byte);
    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n);

    void write_into(BeWriter& w) const;
};
