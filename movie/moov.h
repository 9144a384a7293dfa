// qt_moov_info: the movie box (moov) as a tree: the movie header, the tracks
// in file order, and every other child carried byte for byte in its place
// (those added after reading, such as the fragments' pssh, last). mvex is read
// for its trex defaults, which go to the tracks, and is left out when the
// movie is written: the written movie is not fragmented. A movie whose mvhd
// is missing or cannot be read can be given one (players need its timescale),
// which is written first.
#pragma once

#include <cstdint>
#include <vector>

#include "movie/headers.h"
#include "movie/track.h"

class qt_moov_info {
public:
    quicktime_mvhd_header_u mvhd;
    std::vector<qt_track_info> tracks;
    RawAtomList other_atoms;
    ChildOrder order;
    // Track IDs of trex atoms that matched no track, in the order met; the
    // driver warns about each.
    std::vector<uint32_t> unmatched_trex_ids;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;

    uint64_t movieTimescale() const { return mvhd.timescale(); }
    // A version 0 mvhd in place of an absent one: this timescale, duration 0,
    // rate and volume 1, the identity matrix, next_track_ID past the largest
    // track ID.
    void make_mvhd(uint32_t timescale);
    void write_mvhd_duration(uint64_t d, bool force_v1 = false) { mvhd.set_duration(d, force_v1); }

    // More samples in one track than a moov of at most 16 MiB can list one by
    // one, which only tables of one run or one size can say: growing such a
    // table sample by sample would take memory out of all proportion to the
    // file. Tables that disagree are cut to the fewest first (stbl.h).
    static constexpr uint64_t kMaxSamplesPerTrack = uint64_t{1} << 24;
    bool declares_too_many_samples() const;
    // The samples whose tables disagreed, over every track (stbl.h).
    uint64_t samples_left_out() const;

private:
    void apply_trex_defaults(const unsigned char* mvex, size_t len);

    bool mvhd_made_ = false;
};
