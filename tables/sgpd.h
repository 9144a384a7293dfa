// sgpd, the sample group description box (in a track's stbl, or in a traf):
// the descriptions of one grouping type (for example 'roll' pre-roll counts,
// 'seig' key changes), which sbgp entries of that type point at by 1-based
// index. The entries are kept as opaque bytes. Version 0 gives no entry
// length, so its entries are read as equal parts of the body (a body that
// does not split evenly is not read); versions 1 and 2 give lengths, and 2 a
// default description index. The written version is the one read, raised to
// 1 once entries of different lengths make version 0 unable to say them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_sgpd_info {
public:
    using Entry = std::vector<unsigned char>;

    uint8_t version = 1;
    uint32_t grouping_type = 0;
    uint32_t default_description_index = 0;  // version 2 only
    std::vector<Entry> entries;

    void clear();
    // False, with the table cleared, for a body it cannot read: the caller
    // keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    // The 1-based index of an entry with exactly these bytes, appended when
    // there is none yet; 0 when the table is full (indices from 0x10001 on
    // mean entries of a fragment, so a movie's table stops at 0x10000).
    uint32_t index_of(const Entry& entry);

    void write_into(BeWriter& w) const;
};
