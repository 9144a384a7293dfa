// stco / co64, the chunk offset table of a track's stbl: the absolute file
// offset of every chunk, chunk number = position + 1. Offsets are held as
// 64 bits whatever width was read; the writer picks stco or co64 anew from
// the largest offset. Only version 0 is read; the atom is always written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_stco_info {
public:
    uint64_t max_offset = 0;  // largest offset in tbl, 0 when empty
    std::vector<uint64_t> tbl;

    void clear();
    // `bits` is the entry width of the atom read: 32 for stco, 64 for co64.
    // Any other width leaves the table empty.
    void parse_atom_data(const unsigned char* data, size_t len, unsigned int bits);

    void addChunkOffset(uint64_t offset);
    // Cuts the table to its first n chunks, when it has more.
    void keep_chunks(uint64_t n);

    // True when the table is written as co64.
    bool wide(bool force_co64 = false) const;

    void write_into(BeWriter& w, bool force_co64 = false) const;
};
