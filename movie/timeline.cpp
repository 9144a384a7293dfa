#include "movie/timeline.h"

#include <algorithm>
#include <utility>

namespace {

using Round = ExactTime::Round;

// One pass over a track's edits, in order, building the rebased list.
class Rebase {
public:
    explicit Rebase(const TrackTimeline& t) : t_(t) {}

    void add(const qt_edit_list_entry_t& e) {
        if (e.empty()) {
            out_.push_back({movie(e.segment_duration), e.media_time, e.media_rate_integer, e.media_rate_fraction, false});
            return;
        }
        const int64_t m = e.media_time;
        const bool dwell = e.media_rate_integer == 0 && e.media_rate_fraction == 0;
        const bool to_end = e.segment_duration == 0 && !dwell;
        // Where the first presented sample stands on the original timeline;
        // within the signed range, as the caller makes sure.
        const uint64_t first = first_presented();
        const int64_t first_original = t_.decode_start + static_cast<int64_t>(first);
        if (m >= first_original) {
            // At or after T0, so the difference is exact in 64 unsigned bits.
            add_media(e, static_cast<uint64_t>(m) - static_cast<uint64_t>(t_.decode_start), movie(e.segment_duration),
                      to_end);
            return;
        }
        // Nothing is presented between the edit's media time and the first
        // sample.
        const ExactTime gap(first_original - m, t_.media_timescale);
        const ExactTime duration = movie(e.segment_duration);
        if (dwell || (!to_end && !(gap < duration))) {
            add_empty(duration);
            return;
        }
        add_empty(gap);
        add_media(e, first, duration - gap, to_end);
    }

    TimelineEdits take() { return std::move(out_); }

private:
    // Samples presented before composition time 0 cannot be reached by an
    // edit: media times are not negative.
    uint64_t first_presented() const {
        return t_.presentation_start > 0 ? static_cast<uint64_t>(t_.presentation_start) : 0;
    }

    ExactTime movie(uint64_t ticks) const { return ExactTime::unsigned_ticks(ticks, t_.movie_timescale); }

    void add_empty(const ExactTime& duration) {
        if (duration.sign() == 0) return;
        if (!out_.empty() && out_.back().empty()) {
            out_.back().duration += duration;
        } else {
            out_.push_back({duration, qt_elst_info::kEmptyEdit, 1, 0, false});
        }
    }

    void add_media(const qt_edit_list_entry_t& e, uint64_t media_time, ExactTime duration, bool to_end) {
        const uint64_t end = t_.presentation_end;
        media_time = std::min(media_time, end);
        if (to_end) duration = ExactTime(static_cast<int64_t>(end - media_time), t_.media_timescale);
        // The presentation end is a signed 64-bit value.
        const int64_t time = static_cast<int64_t>(media_time);
        out_.push_back({duration, time, e.media_rate_integer, e.media_rate_fraction, to_end});
    }

    const TrackTimeline& t_;
    TimelineEdits out_;
};

// Walks the edits with the exact position of the end of each: visit(edit,
// end) returns false to stop. Returns whether the walk ran to the end.
template <typename Visit>
bool for_each_end(const TimelineEdits& edits, Visit&& visit) {
    ExactTime end;
    for (const TimelineEdit& e : edits) {
        end += e.duration;
        if (!visit(e, end)) return false;
    }
    return true;
}

}  // namespace

TimelineEdits rebase_edit_list(const std::vector<qt_edit_list_entry_t>& edits, const TrackTimeline& track) {
    Rebase rebase(track);
    if (edits.empty()) {
        // No edit list shows the whole media from movie time 0 on.
        rebase.add({0, 0, 1, 0});
    } else {
        for (const qt_edit_list_entry_t& e : edits) rebase.add(e);
    }
    return rebase.take();
}

TimelineEdits unmoved_edit_list(const std::vector<qt_edit_list_entry_t>& edits, uint32_t movie_timescale) {
    TimelineEdits out;
    for (const qt_edit_list_entry_t& e : edits) {
        out.push_back({ExactTime::unsigned_ticks(e.segment_duration, movie_timescale), e.media_time,
                       e.media_rate_integer, e.media_rate_fraction, false});
    }
    return out;
}

ExactTime leading_empty_time(const TimelineEdits& edits) {
    ExactTime lead;
    for (size_t i = 0; i < edits.size() && edits[i].empty(); ++i) lead += edits[i].duration;
    return lead;
}

void start_earlier(TimelineEdits& edits, const ExactTime& shift) {
    const ExactTime left = leading_empty_time(edits) - shift;
    size_t leading = 0;
    while (leading < edits.size() && edits[leading].empty()) ++leading;
    edits.erase(edits.begin(), edits.begin() + static_cast<std::ptrdiff_t>(leading));
    if (left.sign() > 0 || left.overflowed()) {
        edits.insert(edits.begin(), TimelineEdit{left, qt_elst_info::kEmptyEdit, 1, 0, false});
    }
}

bool shows_all_media_from_0(const TimelineEdits& edits) {
    if (edits.size() != 1) return false;
    const TimelineEdit& e = edits.front();
    return e.media_time == 0 && e.to_media_end && e.media_rate_integer == 1 && e.media_rate_fraction == 0;
}

std::optional<std::vector<qt_edit_list_entry_t>> in_movie_ticks(const TimelineEdits& edits, uint32_t timescale) {
    std::vector<qt_edit_list_entry_t> out;
    uint64_t at = 0;  // where the edits written so far end, in ticks
    const bool fits = for_each_end(edits, [&](const TimelineEdit& e, const ExactTime& end) {
        std::optional<uint64_t> duration;
        if (e.to_media_end) {
            duration = e.duration.in(timescale, Round::up);
        } else if (std::optional<uint64_t> boundary = end.in(timescale, Round::nearest)) {
            duration = *boundary > at ? *boundary - at : 0;
        }
        if (!duration || *duration > UINT64_MAX - at) return false;
        at += *duration;
        out.push_back({*duration, e.media_time, e.media_rate_integer, e.media_rate_fraction});
        return true;
    });
    if (!fits) return std::nullopt;
    return out;
}

bool within_a_millisecond(const TimelineEdits& edits, uint32_t timescale) {
    return for_each_end(edits, [&](const TimelineEdit& e, const ExactTime& end) {
        return e.to_media_end ? e.duration.within_a_millisecond(timescale, Round::up)
                              : end.within_a_millisecond(timescale, Round::nearest);
    });
}
