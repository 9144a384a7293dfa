// saiz, the sample auxiliary information sizes box (in a track's stbl, or in
// a traf): how many bytes of auxiliary information each sample has, in
// sample order (for Common Encryption its IV and subsample map). Either one
// size for every sample or one byte per sample; 0 means the sample has none.
// saio of the same kind (AuxInfoType) says where the bytes lie. Only version
// 0 exists. The writer picks the one-size form whenever every size is equal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"
#include "tables/aux_info_type.h"

class qt_saiz_info {
public:
    AuxInfoType info_type;
    uint8_t default_size = 0;    // != 0: default_count samples of this size
    uint32_t default_count = 0;  // meaningful only while default_size != 0
    std::vector<uint8_t> tbl;    // per-sample sizes, used while default_size == 0

    void clear();
    // False, with the table cleared, for a body it cannot read (another
    // version, cut inside the fixed part): the caller keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    uint64_t sample_count() const { return default_size != 0 ? default_count : tbl.size(); }
    // The size of the sample at 0-based `index`; 0 past the table.
    uint8_t size_of(uint64_t index) const;

    // Cuts the table, or pads it with samples without information, to n samples.
    void cover_samples(uint64_t n);
    void add_sample_size(uint8_t size);

    void write_into(BeWriter& w) const;

private:
    void expand();
};
