// sbgp, the sample-to-group box (in a track's stbl, or in a traf): runs of
// consecutive samples in decode order and the 1-based index of the sgpd
// entry (of the same grouping type) that describes them; index 0 means no
// group. Samples after the last run belong to no group. Version 1 adds a
// grouping type parameter that tells apart boxes of one grouping type.
// Runs read are kept exactly; appended samples extend the last run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_sample_to_group_t {
    uint32_t count;
    uint32_t group_index;
};

class qt_sbgp_info {
public:
    uint32_t grouping_type = 0;
    bool has_parameter = false;  // version 1
    uint32_t grouping_type_parameter = 0;
    std::vector<qt_sample_to_group_t> tbl;

    void clear();
    // False, with the table cleared, for a body it cannot read: the caller
    // keeps such a box as it is.
    bool parse_atom_data(const unsigned char* data, size_t len);

    bool same_grouping(const qt_sbgp_info& o) const {
        return grouping_type == o.grouping_type && has_parameter == o.has_parameter &&
               (!has_parameter || grouping_type_parameter == o.grouping_type_parameter);
    }

    uint64_t sample_count() const { return sample_count_; }
    // Cuts the runs, or pads them with samples of no group, to n samples.
    void cover_samples(uint64_t n);
    void add_samples(uint64_t count, uint32_t group_index);

    void write_into(BeWriter& w) const;

private:
    uint64_t sample_count_ = 0;
};
