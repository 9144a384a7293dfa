#include "atoms/durations.h"

#include <cstdint>

namespace {

// Truncation toward zero over the whole unsigned range; a track whose
// timescale is 0 counts 0 seconds rather than an undefined quotient.
uint64_t to_ticks(double seconds, uint64_t timescale) {
    double ticks = static_cast<double>(timescale) * seconds;
    if (!(ticks > 0.0)) return 0;
    if (ticks >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(ticks);
}

}  // namespace

void rewrite_durations(qt_moov_info& movie) {
    double max_seconds = 0.0;
    const uint64_t movie_scale = movie.movieTimescale();
    for (qt_track_info& t : movie.tracks) {
        // Covers what is shown: with B-frames the last frames are presented
        // after the decode timeline ends.
        const uint64_t media_duration = t.presentationEnd();
        const uint64_t scale = t.trackTimescale();
        const double seconds =
            scale == 0 ? 0.0 : static_cast<double>(media_duration) / static_cast<double>(scale);
        t.write_mdhd_duration(media_duration);
        t.write_tkhd_duration(to_ticks(seconds, movie_scale));
        if (seconds > max_seconds) max_seconds = seconds;
    }
    movie.write_mvhd_duration(to_ticks(max_seconds, movie_scale));
}
