// Placing a track's edit list on the converted file's timeline. In the
// fragments a track's decode times start at its first tfdt (T0); in the
// converted track they start at 0. Every media time of the edit list moves
// down by T0. Media times are composition times: the part of an edit that
// would then start before the first presented sample shows nothing, and
// becomes empty time in front of it (lengthening an empty edit already
// there), the media edit starting at that sample instead. Players that look
// for a key frame at or before an edit's media time then find one. A media
// edit of duration 0, which in a fragmented file runs to the end of the
// media, gets the duration of what it shows. A track without edits whose
// timeline starts at T0 > 0 is treated as one edit of the whole media from
// media time 0 and so gets an empty edit and a media edit: every sample keeps
// its place on the movie timeline.
// Not handled: media rates other than 0 and 1 are rebased as if 1.
#pragma once

#include <cstdint>
#include <vector>

#include "atoms/elst.h"

struct TrackTimeline {
    uint64_t decode_start;        // T0, media ticks
    int64_t presentation_start;   // earliest composition time, media ticks from 0
    uint64_t presentation_end;    // end of the latest-presented sample, media ticks from 0
    uint32_t media_timescale;
    uint32_t movie_timescale;
};

// The edit list of the converted track; empty when it needs none. Returned
// unchanged when either timescale is 0.
std::vector<qt_edit_list_entry_t> rebase_edit_list(const std::vector<qt_edit_list_entry_t>& edits,
                                                   const TrackTimeline& track);
