#include "movie/moov.h"

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

void qt_moov_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("moov"));
    order.write_into(w, other_atoms, {1, tracks.size()}, ChildOrder::after_last(kTrak), [&](int kind, size_t i) {
        if (kind == kMvhd) mvhd.write_into(w);
        else tracks[i].write_into(w, options);
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
