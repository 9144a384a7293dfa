// The forward conversion: one walk over the file with every check and the
// new movie atom built in memory, then the in-place writes and the new movie
// atom at the end.
#pragma once

#include <string>

#include "atomstack/file_reader.h"
#include "engine/recovery.h"

// file: the file as it is (or, in a dry run, as the runs before would have
// left it); tail: its last bytes as read at start-up (null when it has
// changed since). A dry run prints what it would do, after `before`.
int run_forward_conversion(const FileReader& file, const FileTail* tail, const std::string& before);
