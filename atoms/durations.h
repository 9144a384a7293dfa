// The duration rewrite after the fragments are merged: each track's edit
// list placed on the converted timeline (see atoms/timeline.h), each track's
// media duration from its samples, the track duration as the sum of its edits
// or, without edits, the media duration through seconds into the movie
// timescale, and the movie duration from the longest track.
#pragma once

#include "atoms/moov.h"

void rewrite_durations(qt_moov_info& movie);
