// The new movie atom: the saved moov parsed, every moof merged in file order,
// durations rewritten, the tree serialised. Built in memory before the first
// write, so nothing that can go wrong here touches the file.
#pragma once

#include <vector>

// Returns -1 with the serialised atom in `out`, or the exit status.
int build_new_movie(std::vector<unsigned char>& out);
