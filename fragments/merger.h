// The fragment merger: appends the samples of one movie fragment (moof) to
// the movie tree, so that once every fragment is merged in file order each
// track's tables describe all of its samples as a plain movie would.
//
// Each track run (trun) with samples becomes one chunk. Data offsets follow
// ISO/IEC 14496-12: the tfhd base-data-offset when present, else the moof
// start when default-base-is-moof is set, else the moof start for the first
// traf and the end of the previous traf's data for later ones; a run without
// a data offset continues right after the previous run's data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "atoms/moov.h"

struct MergeReport {
    uint64_t unlocated_trafs = 0;   // trafs whose track ID no track has
    uint64_t samples_left_out = 0;  // samples whose bytes lie past file_end
};

// moof_offset: file offset of the moof's header. file_end: where the file's
// bytes end; samples beyond it are left out, and a run that declares more
// samples than the bytes up to it could hold is cut there.
MergeReport append_from_moof_atom(qt_moov_info& movie, const unsigned char* data, size_t len,
                                  uint64_t moof_offset, uint64_t file_end = UINT64_MAX);
