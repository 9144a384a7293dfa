// Sample groups of a traf carried into the track's stbl: each sbgp of the
// traf continues the stbl's sbgp of the same grouping type (and parameter),
// one sample at a time as the merger keeps it, run-length merged. Indices
// from 0x10001 on point into the traf's own sgpd of that type: those entries
// are appended to the stbl's sgpd once (an entry already there is reused) and
// the index is renumbered to its place there. Index 0, and every sample the
// traf's sbgp does not reach, is no group. A traf's sgpd that no sbgp points
// into adds nothing; version 2's default group index of a traf is not honoured.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "movie/stbl.h"
#include "fragments/moof_records.h"

class GroupMerge {
public:
    GroupMerge(const moof_traf_info_t& traf, qt_stbl_info& stbl);

    // The sample at `traf_index` in the traf, kept as the track's `track_index`.
    void sample(uint64_t traf_index, uint64_t track_index);

private:
    struct Stream {
        const qt_sbgp_info* from;
        size_t target;       // in stbl.sbgp
        size_t run = 0;      // the traf's run holding the samples from run_first on
        uint64_t run_first = 0;
        bool mapped = false;  // `index` holds the current run's renumbered index
        uint32_t index = 0;
    };

    uint32_t renumber(const qt_sbgp_info& from, uint32_t index);

    const moof_traf_info_t& traf_;
    qt_stbl_info& stbl_;
    std::vector<Stream> streams_;
};
