// What a traf says about its samples beside its runs, carried into the
// track's stbl while the merger keeps samples and makes chunks: auxiliary
// information (aux_info_merge.h), sample groups (group_merge.h), sub-samples
// (subs: each entry continues the stbl's subs of the same flags, renumbered
// from the traf's samples to the track's), dependencies (a traf's sdtp gives
// the dependency byte of its samples) and trick play (a traf's trik its
// samples' bytes; once the track has a trik, samples of trafs without one
// get 0). The merger calls sample() for
// every sample it keeps, in order, chunk() for every chunk it appends, and
// finish() after the traf: samples it leaves out leave nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "movie/track.h"
#include "fragments/aux_info_merge.h"
#include "fragments/group_merge.h"
#include "fragments/moof_records.h"

class TrafDetails {
public:
    TrafDetails(const moof_traf_info_t& traf, qt_track_info& track, uint64_t data_base, const MoofBody& moof,
                uint32_t description_index);

    // The sample at `traf_index` in the traf (runs counted by their declared
    // sample counts), in trun `run` which begins with the traf's sample
    // `run_first`, kept as the track's sample `track_index` (0-based).
    void sample(size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index);
    void chunk(size_t run, uint64_t run_first) { aux_.chunk(run, run_first); }
    void finish() { aux_.finish(); }

private:
    struct SubsStream {
        const qt_subs_info* from;
        size_t target;  // in stbl.subs
        size_t next = 0;
    };

    const moof_traf_info_t& traf_;
    qt_track_info& track_;
    AuxInfoMerge aux_;
    GroupMerge groups_;
    std::vector<SubsStream> subs_;
};
