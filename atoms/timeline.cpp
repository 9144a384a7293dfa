#include "atoms/timeline.h"

#include <limits>

#include "atoms/saturating.h"

namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

// x * to / from, plus bias / from before truncation; saturating. With both
// timescales below 2^32 the remainder term cannot overflow.
uint64_t rescale(uint64_t x, uint32_t from, uint32_t to, uint64_t bias) {
    const uint64_t q = x / from;
    const uint64_t frac = ((x % from) * to + bias) / from;
    if (q > (kMax - frac) / to) return kMax;
    return q * to + frac;
}

// One pass over a track's edits, in order, building the rebased list.
class Rebase {
public:
    explicit Rebase(const TrackTimeline& t) : t_(t) {}

    void add(const qt_edit_list_entry_t& e) {
        if (e.empty()) {
            out_.push_back(e);
            return;
        }
        const uint64_t m = static_cast<uint64_t>(e.media_time);
        const bool dwell = e.media_rate_integer == 0 && e.media_rate_fraction == 0;
        // Where the first presented sample stands on the original timeline.
        const uint64_t first = first_presented();
        const uint64_t first_original = saturating_add(t_.decode_start, first);
        if (m >= first_original) {
            add_media(e, m - t_.decode_start, e.segment_duration, dwell);
            return;
        }
        // Nothing is presented between the edit's media time and the first
        // sample.
        const uint64_t gap = to_movie_nearest(first_original - m);
        if (dwell || (e.segment_duration != 0 && e.segment_duration <= gap)) {
            add_empty(e.segment_duration);
            return;
        }
        add_empty(gap);
        add_media(e, first, e.segment_duration == 0 ? 0 : e.segment_duration - gap, dwell);
    }

    std::vector<qt_edit_list_entry_t> take() { return std::move(out_); }

private:
    // Samples presented before composition time 0 cannot be reached by an
    // edit: media times are not negative.
    uint64_t first_presented() const {
        return t_.presentation_start > 0 ? static_cast<uint64_t>(t_.presentation_start) : 0;
    }

    uint64_t to_movie_nearest(uint64_t media_ticks) const {
        return rescale(media_ticks, t_.media_timescale, t_.movie_timescale, t_.media_timescale / 2);
    }
    // Rounded up, so that an edit running to the end shows all of the last
    // sample.
    uint64_t to_movie_ceil(uint64_t media_ticks) const {
        return rescale(media_ticks, t_.media_timescale, t_.movie_timescale, t_.media_timescale - 1);
    }

    void add_empty(uint64_t duration) {
        if (duration == 0) return;
        if (!out_.empty() && out_.back().empty()) {
            uint64_t& d = out_.back().segment_duration;
            d = saturating_add(d, duration);
        } else {
            out_.push_back({duration, qt_elst_info::kEmptyEdit, 1, 0});
        }
    }

    void add_media(const qt_edit_list_entry_t& e, uint64_t media_time, uint64_t duration, bool dwell) {
        if (duration == 0 && !dwell) {
            duration = t_.presentation_end > media_time ? to_movie_ceil(t_.presentation_end - media_time) : 0;
        }
        // Not above the original media time or the earliest composition time,
        // both of which were signed 64-bit values.
        const int64_t time = static_cast<int64_t>(media_time);
        out_.push_back({duration, time, e.media_rate_integer, e.media_rate_fraction});
    }

    const TrackTimeline& t_;
    std::vector<qt_edit_list_entry_t> out_;
};

}  // namespace

std::vector<qt_edit_list_entry_t> rebase_edit_list(const std::vector<qt_edit_list_entry_t>& edits,
                                                   const TrackTimeline& track) {
    if (track.media_timescale == 0 || track.movie_timescale == 0) return edits;
    if (edits.empty() && track.decode_start == 0) return {};
    Rebase rebase(track);
    if (edits.empty()) {
        // No edit list shows the whole media from movie time 0 on.
        rebase.add({0, 0, 1, 0});
    } else {
        for (const qt_edit_list_entry_t& e : edits) rebase.add(e);
    }
    return rebase.take();
}
