// stsz, the sample size table of a track's stbl, in one of three states:
//   empty       sample_size 0, tbl empty       no samples
//   constant    sample_size > 0, tbl empty     constant_count samples of sample_size bytes
//   per-sample  sample_size 0, tbl not empty   one size per sample
// The constant state is only ever entered by reading it; the first appended
// size that differs expands it into per-sample entries. stz2 (compact sizes)
// is not handled. Only version 0 is read; the atom is always written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_stsz_info {
public:
    uint32_t sample_size = 0;
    uint32_t constant_count = 0;  // meaningful only while sample_size != 0
    std::vector<uint32_t> tbl;    // used only while sample_size == 0

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    void addSampleSize(uint32_t size);
    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n);

    uint64_t sample_count() const { return sample_size != 0 ? constant_count : tbl.size(); }
    // The size of the sample at 0-based `index`; 0 past the table.
    uint32_t size_of(uint64_t index) const {
        if (index >= sample_count()) return 0;
        return sample_size != 0 ? sample_size : tbl[static_cast<size_t>(index)];
    }

    void write_into(BeWriter& w) const;
};
