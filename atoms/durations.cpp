#include "atoms/durations.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "atoms/timeline.h"

namespace {

// Truncation toward zero over the whole unsigned range; a track whose
// timescale is 0 counts 0 seconds rather than an undefined quotient.
uint64_t to_ticks(double seconds, uint64_t timescale) {
    double ticks = static_cast<double>(timescale) * seconds;
    if (!(ticks > 0.0)) return 0;
    if (ticks >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(ticks);
}

// Moves the track's edits onto the converted decode timeline, which starts
// at 0; a track that needs an edit list and has none gets one.
void rebase_timeline(qt_track_info& t, uint64_t media_end, uint32_t movie_scale) {
    const TrackTimeline timeline{t.decode_start, t.presentationStart(), media_end,
                                 static_cast<uint32_t>(t.trackTimescale()), movie_scale};
    std::vector<qt_edit_list_entry_t> edits = rebase_edit_list(t.edts.elst.entries, timeline);
    if (edits.empty()) return;
    t.edts.present = true;
    t.edts.elst.present = true;
    t.edts.elst.entries = std::move(edits);
}

}  // namespace

void rewrite_durations(qt_moov_info& movie) {
    uint64_t movie_duration = 0;
    const uint32_t movie_scale = movie.movieTimescale();
    for (qt_track_info& t : movie.tracks) {
        // Covers what is shown: with B-frames the last frames are presented
        // after the decode timeline ends.
        const uint64_t media_duration = t.presentationEnd();
        rebase_timeline(t, media_duration, movie_scale);
        const uint64_t scale = t.trackTimescale();
        const double seconds =
            scale == 0 ? 0.0 : static_cast<double>(media_duration) / static_cast<double>(scale);
        t.write_mdhd_duration(media_duration);
        // With edits the track lasts as long as they do.
        const uint64_t track_duration =
            t.edts.hasEdits() ? t.edts.elst.totalDuration() : to_ticks(seconds, movie_scale);
        t.write_tkhd_duration(track_duration);
        movie_duration = std::max(movie_duration, track_duration);
    }
    movie.write_mvhd_duration(movie_duration);
}
