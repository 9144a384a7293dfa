// The undo: finds the record that a conversion left, checks it against the
// file, writes the saved moov back over the in-place record and the new mdat
// header, and truncates the file to its original size.
#pragma once

#include <string>

#include "atomstack/file_reader.h"

// file: the file as it is (or, in a dry run, as the runs before would have
// left it). A dry run prints what it would do, after `before`; or, given
// `restored`, prints nothing and sets it to the file as the undo would
// leave it.
int run_undo(const FileReader& file, const std::string& before, FileReader* restored = nullptr);
