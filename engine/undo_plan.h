// The undo, decided before any write: find the record a conversion left,
// check that the file still has the layout the conversion gave it, and say
// what puts the original back: the saved moov over the in-place record and
// the new mdat header, then a truncation to the original size.
#pragma once

#include <cstdint>
#include <vector>

#include "atomstack/file_reader.h"
#include "engine/outcome.h"

struct UndoPlan {
    Outcome refusal;                          // ok: go on
    uint64_t moov_offset = 0;                 // M
    std::vector<unsigned char> restored_moov; // the original moov atom, header included
    uint64_t copy_offset = 0;                 // where its copy stands
    uint64_t orig_size = 0;                   // S
};

UndoPlan plan_undo(const FileReader& file);
