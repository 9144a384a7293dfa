// stss, the sync sample table of a track's stbl: the 1-based numbers of the
// samples that decode without reference to others. Its absence means every
// sample is sync, so the table tracks whether it exists (`present`) apart
// from its entries: a present table with no entries says no sample is sync.
// Only version 0 is read; another version or a body too short counts as
// absent. Order and duplicates of entries read from the file are not checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

class qt_stss_info {
public:
    std::vector<uint32_t> tbl;
    bool present = false;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    // Accounts one appended sample, `sample_number` 1-based in the whole
    // track. The first non-sync sample of a track without the table creates
    // it, listing every earlier sample, which were all sync.
    void addSyncSample(uint32_t sample_flags, uint64_t sample_number);
    // Drops the entries past sample n.
    void keep_samples(uint64_t n);

    void write_into(BeWriter& w) const;
};
