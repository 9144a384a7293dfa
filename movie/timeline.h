// Placing a track's edit list on the converted file's timeline. In the
// fragments a track's decode times start at its first tfdt (T0); in the
// converted track they start at 0. Every media time of the edit list moves
// down by T0. Media times are composition times: the part of an edit that
// would then start before the first presented sample shows nothing, and
// becomes empty time in front of it (lengthening an empty edit already
// there), the media edit starting at that sample instead. Players that look
// for a key frame at or before an edit's media time then find one. A media
// edit of duration 0, which in a fragmented file runs to the end of the
// media, gets the duration of what it shows. A track without edits is
// treated as one edit of the whole media from media time 0: every sample
// keeps its place on the movie timeline, and one before 0 (a T0 below 0) is
// not shown, as it was not. An edit that starts past the end of the media
// shows none of it, and is written as starting at that end.
//
// Durations stay exact (atoms/exact_time.h) until the movie's timescale is
// chosen; the whole movie may first be moved earlier (start_earlier). Then
// each boundary between edits is rounded to the nearest tick, and an edit
// that runs to the end of the media is rounded up so that it shows all of the
// last sample.
// Not handled: media rates other than 0 and 1 are rebased as if 1.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "movie/elst.h"
#include "movie/exact_time.h"

struct TrackTimeline {
    int64_t decode_start;         // T0, media ticks; may be negative
    int64_t presentation_start;   // earliest composition time, media ticks from 0
    uint64_t presentation_end;    // end of the latest-presented sample, media ticks from 0
    uint32_t media_timescale;     // neither timescale is 0
    uint32_t movie_timescale;
};

struct TimelineEdit {
    ExactTime duration;
    int64_t media_time;  // media ticks; negative: empty edit
    int16_t media_rate_integer;
    int16_t media_rate_fraction;
    bool to_media_end;   // shows the media from media_time to its end

    bool empty() const { return media_time < 0; }
};
using TimelineEdits = std::vector<TimelineEdit>;

// The track's edits on the converted decode timeline. T0, the presentation
// end and their sum lie within the signed 64-bit range.
TimelineEdits rebase_edit_list(const std::vector<qt_edit_list_entry_t>& edits, const TrackTimeline& track);
// The edits as they are, their durations in the movie timescale (not 0).
TimelineEdits unmoved_edit_list(const std::vector<qt_edit_list_entry_t>& edits, uint32_t movie_timescale);

// How long the track shows nothing before its first media edit.
ExactTime leading_empty_time(const TimelineEdits& edits);
// Shows everything `shift` earlier: the leading empty time gets that much
// shorter (not below 0) and is dropped when nothing is left of it.
void start_earlier(TimelineEdits& edits, const ExactTime& shift);
// One edit showing the whole media from media time 0 at rate 1.
bool shows_all_media_from_0(const TimelineEdits& edits);

// The edits in ticks of `timescale`; nothing when a value does not fit.
std::optional<std::vector<qt_edit_list_entry_t>> in_movie_ticks(const TimelineEdits& edits, uint32_t timescale);
// Whether every value in_movie_ticks rounds lies within 1 ms of the exact one.
bool within_a_millisecond(const TimelineEdits& edits, uint32_t timescale);
