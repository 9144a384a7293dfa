// The duration rewrite after the fragments are merged: each track's edit list
// placed on the converted timeline (see atoms/timeline.h); the whole movie
// moved earlier so that the earliest presentation of any track is at 0, the
// tracks keeping their places relative to one another; a movie timescale in
// which every edit and duration is exact to 1 ms; each track's media
// duration from its samples, the track duration as the sum of its edits or,
// without edits, its media duration rounded up into the movie timescale, and
// the movie duration from the longest track. A movie without a readable
// movie header gets one. Exact integer arithmetic throughout.
#pragma once

#include "movie/moov.h"

// Returns false, leaving the movie's times as they were, when a track's
// timeline or one of these values does not fit 64 bits.
bool rewrite_durations(qt_moov_info& movie, const WriteOptions& options = {});
