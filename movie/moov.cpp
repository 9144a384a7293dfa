#include "movie/moov.h"

#include <algorithm>
#include <cassert>

#include "atoms/fourcc.h"
#include "atoms/saturating.h"

namespace {
enum Kind : int { kMvhd, kTrak };
}  // namespace

void qt_moov_info::clear() {
    mvhd.clear();
    tracks.clear();
    other_atoms.clear();
    order.clear();
    unmatched_trex_ids.clear();
    mvhd_made_ = false;
}

void qt_moov_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    const unsigned char* mvex = nullptr;
    size_t mvex_len = 0;
    walk_children(data, len, [&](const ChildAtom& c) {
        int kind = ChildOrder::kRaw;
        switch (c.type) {
            case fourcc("mvhd"):
                if (c.body_len() > 0) mvhd.parse_atom_data(c.body(), c.body_len());
                kind = kMvhd;
                break;
            case fourcc("trak"): {
                qt_track_info track;
                track.parse_atom_data(c.body(), c.body_len());
                tracks.push_back(std::move(track));
                kind = kTrak;
                break;
            }
            case fourcc("mvex"):
                mvex = c.body();
                mvex_len = c.body_len();
                kind = ChildOrder::kDropped;
                break;
            default: break;
        }
        order.add(kind, other_atoms, c);
    });
    // Matched after the walk, so the order of mvex and trak does not matter.
    if (mvex != nullptr) apply_trex_defaults(mvex, mvex_len);
}

void qt_moov_info::apply_trex_defaults(const unsigned char* mvex, size_t len) {
    walk_children(mvex, len, [&](const ChildAtom& c) {
        if (c.type != fourcc("trex")) return;
        qt_trex_info trex{};
        trex.parse_atom_data(c.body(), c.body_len());
        for (qt_track_info& t : tracks) {
            if (t.getTrackId() == trex.track_ID) {
                t.trex = trex;
                return;
            }
        }
        unmatched_trex_ids.push_back(trex.track_ID);
    });
}

void qt_moov_info::make_mvhd(uint32_t timescale) {
    assert(!mvhd.present());
    uint32_t largest_id = 0;
    for (const qt_track_info& t : tracks) largest_id = std::max(largest_id, t.getTrackId());
    // Body, version 0: u8 version | u24 flags | u32 creation_time |
    //   u32 modification_time | u32 timescale | u32 duration | s16.16 rate |
    //   s8.8 volume | 10 reserved | 9 * u32 matrix | 6 * u32 pre_defined |
    //   u32 next_track_ID
    std::vector<unsigned char> body;
    BeWriter w(body);
    w.version_flags(0, 0);
    w.u32(0);
    w.u32(0);
    w.u32(timescale);
    w.u32(0);
    w.u32(0x00010000);
    w.u16(0x0100);
    for (int i = 0; i < 10; ++i) w.u8(0);
    for (uint32_t m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.u32(m);
    for (int i = 0; i < 6; ++i) w.u32(0);
    // All ones when no ID is left: then a new track's ID must be searched for.
    w.u32(largest_id == UINT32_MAX ? UINT32_MAX : largest_id + 1);
    mvhd.parse_atom_data(body.data(), body.size());
    assert(mvhd.present());
    mvhd_made_ = true;
}

void qt_moov_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("moov"));
    if (mvhd_made_) mvhd.write_into(w);
    order.write_into(w, other_atoms, {1, tracks.size()}, ChildOrder::after_last(kTrak), [&](int kind, size_t i) {
        if (kind == kMvhd && !mvhd_made_) mvhd.write_into(w);
        else if (kind == kTrak) tracks[i].write_into(w, options);
    });
    w.end_atom(start);
}

bool qt_moov_info::declares_too_many_samples() const {
    for (const qt_track_info& t : tracks) {
        // The tables agree: stts speaks for all of them.
        if (t.sumSampleCounts() > kMaxSamplesPerTrack) return true;
    }
    return false;
}

uint64_t qt_moov_info::samples_left_out() const {
    uint64_t n = 0;
    for (const qt_track_info& t : tracks) n = saturating_add(n, t.stbl().samples_left_out);
    return n;
}
