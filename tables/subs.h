// subs, the sub-sample information box (in a track's stbl, or in a traf):
// for some samples, how they divide into sub-samples (NAL units, tiles,
// subtitle images ...), each with its size, priority, discardable flag and
// codec-specific parameters. Entries name their sample by the distance from
// the previous entry's sample; here they are held by sample number (1-based,
// counted from the start of the track, or of the traf for a traf's box). The
// flags are codec-specific and tell apart several boxes of one track. Version
// 1 holds 32-bit sub-sample sizes; the writer uses it only when a size needs it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_subsample_t {
    uint32_t size;
    uint8_t priority;
    uint8_t discardable;
    uint32_t codec_specific_parameters;
};

struct qt_subsample_entry_t {
    uint64_t sample_number;  // 1-based
    std::vector<qt_subsample_t> subsamples;
};

class qt_subs_info {
public:
    uint32_t flags = 0;
    std::vector<qt_subsample_entry_t> entries;  // ascending sample numbers

    void clear();
    // False, with the table cleared, for a body it cannot read: the caller
    // keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    // Appends an entry; one that does not come after the last is dropped.
    void add_entry(qt_subsample_entry_t entry);
    // Drops the entries past sample n.
    void keep_samples(uint64_t n);

    void write_into(BeWriter& w) const;
};
