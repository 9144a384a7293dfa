// The forward conversion: one walk over the file with every check and the
// new movie atom built in memory, then the in-place writes and the new movie
// atom at the end.
#pragma once

#include "engine/recovery.h"

// tail: the file's last bytes as read at start-up (null when the file has
// changed since).
int run_forward_conversion(const FileTail* tail);
