// The fragment merger: appends the samples of one movie fragment (moof) to
// the movie tree, so that once every fragment is merged in file order each
// track's tables describe all of its samples as a plain movie would.
//
// Each track run (trun) with samples becomes one chunk. Data offsets follow
// ISO/IEC 14496-12: the tfhd base-data-offset when present, else the moof
// start when default-base-is-moof is set, else the moof start for the first
// traf and the end of the previous traf's data for later ones; a run without
// a data offset continues right after the previous run's data.
//
// What a traf says about its samples beside the runs is carried along for
// the samples kept (traf_details.h); the moof's pssh boxes go into the movie
// once each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "movie/moov.h"

struct MergeReport {
    uint64_t unlocated_trafs = 0;   // trafs whose track ID no track has
    // Samples whose bytes lie past file_end, and samples that a run declares
    // beyond the end of its box.
    uint64_t samples_left_out = 0;
    // A track would have had more samples or chunks than its tables can
    // number in 32 bits; it got no more than that.
    bool too_many_samples = false;
};

// Limits that hold over every moof of one file.
struct MergeBounds {
    // Where the file's bytes end; samples beyond it are left out.
    uint64_t file_end = UINT64_MAX;
    // Bytes that runs without per-sample fields may still claim, each of
    // their samples at least one: such a run states its sample count alone,
    // and sample data never overlaps, so all of them together cannot hold
    // more samples than the file has bytes.
    uint64_t implicit_bytes_left = UINT64_MAX;
    // Samples of no bytes claim none of the file, so their count is held to
    // the size of the moof that declares them (set for each moof).
    uint64_t empty_samples_left = UINT64_MAX;
    // File offsets of the file's moof atoms, ascending, when known. Sample
    // data never lies inside a moof, so a run without per-sample fields ends
    // at the next moof after its start.
    const std::vector<uint64_t>* moof_starts = nullptr;
};

// moof_offset: file offset of the moof's header; header_bytes: its length
// (8, or 16 with a 64-bit size), so that data lies at moof_offset + header_bytes.
MergeReport append_from_moof_atom(qt_moov_info& movie, const unsigned char* data, size_t len,
                                  uint64_t moof_offset, MergeBounds& bounds, unsigned header_bytes = 8);
// One moof on its own: its runs may claim the bytes up to file_end.
MergeReport append_from_moof_atom(qt_moov_info& movie, const unsigned char* data, size_t len,
                                  uint64_t moof_offset, uint64_t file_end = UINT64_MAX);
