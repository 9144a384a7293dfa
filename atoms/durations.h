// The duration rewrite after the fragments are merged: each track's media
// duration from its samples, the track duration through seconds into the
// movie timescale, the movie duration from the longest track.
#pragma once

#include "atoms/moov.h"

void rewrite_durations(qt_moov_info& movie);
