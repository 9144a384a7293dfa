#include "movie/durations.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "movie/exact_time.h"
#include "movie/timeline.h"

namespace {

// Always fine enough: a boundary rounded to the nearest millisecond is off by
// half of one at most, a duration rounded up by less than one.
constexpr uint32_t kMillisecondTimescale = 1000;

struct TrackPlan {
    uint64_t media_duration = 0;  // media ticks: the presentation end
    uint32_t media_timescale = 0;
    TimelineEdits edits;          // none: the track gets no edit list
    bool moved = false;           // on the converted timeline, so it can move earlier
    bool presents = false;        // shows samples, so its start counts
    bool decodes_from_0 = false;  // without edits, T0 = 0: needs none while the movie stays put
    bool shows_before_0 = false;  // a sample's composition time is negative
};

std::optional<TrackPlan> plan_track(const qt_track_info& t, uint32_t movie_scale) {
    const std::optional<PresentationSpan> span = t.presentation_span();
    if (!span) return std::nullopt;
    TrackPlan p;
    p.media_duration = span->end;
    p.media_timescale = static_cast<uint32_t>(t.trackTimescale());
    const std::vector<qt_edit_list_entry_t>& edits = t.edts.elst.entries;
    if (p.media_timescale == 0) {
        // Nothing to place it by: its edits stay as they are.
        p.edits = unmoved_edit_list(edits, movie_scale);
        return p;
    }
    p.edits = rebase_edit_list(edits, {t.decode_start, span->start, span->end, p.media_timescale, movie_scale});
    p.moved = true;
    p.presents = t.sumSampleCounts() > 0 &&
                 std::any_of(p.edits.begin(), p.edits.end(), [](const TimelineEdit& e) { return !e.empty(); });
    p.decodes_from_0 = edits.empty() && t.decode_start == 0;
    p.shows_before_0 = span->start < 0;
    return p;
}

// Moves the movie so that the track that shows something first shows it at 0.
void start_at_0(std::vector<TrackPlan>& plans) {
    std::optional<ExactTime> start;
    for (const TrackPlan& p : plans) {
        if (!p.presents) continue;
        const ExactTime lead = leading_empty_time(p.edits);
        if (!start || lead < *start) start = lead;
    }
    if (!start || start->sign() == 0) {
        for (TrackPlan& p : plans) {
            if (p.decodes_from_0) p.edits.clear();
        }
        return;
    }
    for (TrackPlan& p : plans) {
        if (!p.moved) continue;
        start_earlier(p.edits, *start);
        // The same as no edit list, unless a sample is shown before 0.
        if (shows_all_media_from_0(p.edits) && !p.shows_before_0) p.edits.clear();
    }
}

ExactTime media_length(const TrackPlan& p) { return ExactTime::unsigned_ticks(p.media_duration, p.media_timescale); }

bool fine_enough(const std::vector<TrackPlan>& plans, uint32_t timescale) {
    return std::all_of(plans.begin(), plans.end(), [&](const TrackPlan& p) {
        if (!p.edits.empty()) return within_a_millisecond(p.edits, timescale);
        return p.media_timescale == 0 || media_length(p).within_a_millisecond(timescale, ExactTime::Round::up);
    });
}

// The movie's own timescale when it is fine enough, else the largest media
// timescale when that is finer than it yet coarser than milliseconds and
// fine enough, else milliseconds.
uint32_t choose_movie_timescale(uint32_t original, const std::vector<TrackPlan>& plans) {
    if (fine_enough(plans, original)) return original;
    uint32_t largest = 0;
    for (const TrackPlan& p : plans) largest = std::max(largest, p.media_timescale);
    if (largest != 0 && largest < kMillisecondTimescale && fine_enough(plans, largest)) return largest;
    return kMillisecondTimescale;
}

struct TrackTimes {
    std::vector<qt_edit_list_entry_t> edits;
    uint64_t duration = 0;
};

std::optional<TrackTimes> track_times(const TrackPlan& p, uint32_t timescale) {
    TrackTimes out;
    if (p.edits.empty()) {
        if (p.media_timescale == 0) return out;
        const std::optional<uint64_t> d = media_length(p).in(timescale, ExactTime::Round::up);
        if (!d) return std::nullopt;
        out.duration = *d;
        return out;
    }
    std::optional<std::vector<qt_edit_list_entry_t>> edits = in_movie_ticks(p.edits, timescale);
    if (!edits) return std::nullopt;
    out.edits = std::move(*edits);
    // in_movie_ticks keeps the sum within 64 bits.
    for (const qt_edit_list_entry_t& e : out.edits) out.duration += e.segment_duration;
    return out;
}

void write_edits(qt_track_info& t, std::vector<qt_edit_list_entry_t> edits) {
    if (!edits.empty()) {
        t.edts.present = true;
        t.edts.elst.present = true;
        t.edts.elst.entries = std::move(edits);
    } else if (t.edts.has_edits()) {
        t.edts.elst.clear();
        t.edts.present = !t.edts.other_atoms.empty();
    }
}

}  // namespace

bool rewrite_durations(qt_moov_info& movie, const WriteOptions& options) {
    // Without a movie timescale (no mvhd, or one that cannot be read or says
    // 0) players cannot place the tracks: the movie gets one as below, and
    // edits are read in milliseconds, the most common movie timescale.
    if (!movie.mvhd.present()) movie.make_mvhd(kMillisecondTimescale);
    const uint32_t original_scale = movie.movieTimescale() != 0 ? static_cast<uint32_t>(movie.movieTimescale())
                                                                 : kMillisecondTimescale;
    std::vector<TrackPlan> plans;
    for (const qt_track_info& t : movie.tracks) {
        std::optional<TrackPlan> p = plan_track(t, original_scale);
        if (!p) return false;
        plans.push_back(std::move(*p));
    }
    start_at_0(plans);
    const uint32_t scale = choose_movie_timescale(original_scale, plans);
    std::vector<TrackTimes> times;
    for (const TrackPlan& p : plans) {
        std::optional<TrackTimes> t = track_times(p, scale);
        if (!t) return false;
        times.push_back(std::move(*t));
    }

    uint64_t movie_duration = 0;
    for (size_t i = 0; i < plans.size(); ++i) {
        qt_track_info& t = movie.tracks[i];
        t.write_mdhd_duration(plans[i].media_duration, options.force_mdhd_v1);
        write_edits(t, std::move(times[i].edits));
        t.write_tkhd_duration(times[i].duration, options.force_tkhd_v1);
        movie_duration = std::max(movie_duration, times[i].duration);
    }
    movie.mvhd.set_timescale(scale);
    movie.write_mvhd_duration(movie_duration, options.force_mvhd_v1);
    return true;
}
