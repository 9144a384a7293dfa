// The head of the synthetic recording: ftyp and a sample-free moov with a
// video and an audio track and the mvex/trex that mark it as fragmented.
#pragma once

#include <vector>

std::vector<unsigned char> build_init_segment();
