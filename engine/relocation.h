// The in-place relocation, worked out before any write: the old moov region
// becomes the in-place undo record (M .. P) and a new mdat header
// (P = M + 8 + N - H .. M + 8 + N) whose payload runs to the original end S,
// so that every fragment and sample keeps its offset; the old moov is
// appended at S (see engine/undo_record.h for both layouts).
#pragma once

#include <cstdint>
#include <vector>

#include "atoms/atom_header.h"
#include "engine/outcome.h"

struct PlannedWrite {
    uint64_t at;
    std::vector<unsigned char> bytes;
    Msg failure;  // what a failed write of these bytes reports
};

struct RelocationInput {
    uint64_t moov_offset;        // M
    uint64_t first_mdat_offset;
    uint64_t file_size;          // S
    bool force_mdat64;
    bool debug_move_moov;
    const std::vector<unsigned char>* moov_payload;  // N bytes
};

struct RelocationPlan {
    uint64_t saved_moov_at;              // where the copy's moov header lands
    uint64_t append_end;                 // S + N + 24 (S + N + 8 in the debug mode)
    PlannedWrite appended;               // the copy of the old moov, at S
    std::vector<PlannedWrite> in_place;  // over the old moov region, in order
};

// The 16-byte mdat header is needed once a 32-bit size could no longer hold
// S - P for any moov that fits below the limit.
constexpr uint64_t kMdat64From = 0x7FFF0000;  // 2,147,418,112
constexpr uint64_t kMaxMoovPayload = 16777216;

uint64_t mdat_header_size(uint64_t file_size, bool force_mdat64);

// The moov's own limits: a payload of 8 to 16 MiB, an 8-byte header.
Outcome check_moov_size(const AtomHeader& moov);
// Its place: before the first mdat, with room for the undo record.
Outcome check_moov_placement(const AtomHeader& moov, const AtomHeader& first_mdat, uint64_t file_size,
                             bool force_mdat64);

RelocationPlan plan_relocation(const RelocationInput& in);
