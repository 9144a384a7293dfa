// The new movie atom: the saved moov parsed, every moof merged in file order,
// durations rewritten, the tree serialised. Built in memory before the first
// write, so nothing that can go wrong here touches the file.
#pragma once

#include <vector>

#include "fragments/merger.h"

// Returns -1 with the serialised atom in `out` and what the merge passed
// over in `merged`, or the exit status.
int build_new_movie(std::vector<unsigned char>& out, MergeReport& merged);
// The warnings of a conversion that goes ahead: trex atoms and fragments of
// no track, samples left out.
void say_merge_warnings(const MergeReport& merged);
