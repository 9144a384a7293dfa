// saio, the sample auxiliary information offsets box (in a track's stbl, or
// in a traf): where the auxiliary information that saiz sizes lies. In a stbl
// one offset per chunk, each an absolute file offset of the information of
// the chunk's first sample (the rest of the chunk's follows contiguously), or
// a single offset for the whole track. In a traf the offsets are relative to
// the traf's data base, one for the whole traf or one per trun. Version 1
// holds 64-bit offsets; the writer uses it only when an offset needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"
#include "tables/aux_info_type.h"

class qt_saio_info {
public:
    AuxInfoType info_type;
    std::vector<uint64_t> offsets;

    void clear();
    // False, with the table cleared, for a body it cannot read (a version
    // above 1, cut inside the fixed part): the caller keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    // Cuts the table, or pads it with offset 0 (chunks whose samples have no
    // information), to n entries.
    void cover_chunks(uint64_t n) { offsets.resize(static_cast<size_t>(n), 0); }

    void write_into(BeWriter& w) const;
};
