// The new movie atom, built in memory before the first write: the saved moov
// parsed, every moof of the file merged in file order, the durations
// rewritten and the tree serialised. Nothing that can go wrong here touches
// the file.
#pragma once

#include <cstdint>
#include <vector>

#include "atoms/write_options.h"
#include "atomstack/quicktime_stack.h"
#include "engine/outcome.h"
#include "fragments/merger.h"
#include "movie/moov.h"

struct NewMovie {
    Outcome refusal;
    std::vector<unsigned char> atom;  // the whole moov atom
    MergeReport merged;
};

// movie: the tree to fill; moov_payload: the original moov's payload;
// first_moof: the file's first top-level moof; file_size: the original end.
NewMovie build_new_movie(quicktime_stack* qt, qt_moov_info& movie, const std::vector<unsigned char>& moov_payload,
                         const quicktime_atom& first_moof, uint64_t file_size, const WriteOptions& options);
