// The bytes that an in-place conversion writes, worked out before any write.
//
// With M the old moov's offset, N its payload length, S the file's size and
// H the new mdat header's size (8, or 16 in the 64-bit form), the old moov
// region becomes the in-place TOLV record (M .. P) and a new mdat header
// (P = M + 8 + N - H .. M + 8 + N) whose payload runs to S; the old moov is
// appended at S inside a TOLV/ORIG wrapper (bare in the debug mode).
//
// In-place record, from M:
//   TOLV header            size N - H + 8
//   VERS                   L + 8 bytes: the version text
//   ORIG (64 bytes)        OFSZ: S | OMDT: old first mdat offset | OMOV: M, saved moov offset
//   four zero bytes        end of the children
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "atoms/be.h"

const std::string& vers_string();

// A whole moov atom around its payload: what the conversion saves and the
// undo puts back.
void write_moov_atom(BeWriter& w, const std::vector<unsigned char>& payload);
std::vector<unsigned char> moov_atom_bytes(const std::vector<unsigned char>& payload);

struct PlannedWrite {
    off_t at;
    std::vector<unsigned char> bytes;
    const char* failure_message;
};

struct RelocationInput {
    uint64_t moov_offset;      // M
    uint64_t first_mdat_offset;
    uint64_t file_size;        // S
    bool force_mdat64;
    bool debug_move_moov;
    const std::vector<unsigned char>* moov_payload;  // N bytes
};

struct RelocationPlan {
    uint64_t saved_moov_at;      // where the copy's moov header lands
    uint64_t append_end;         // S + N + 24 (S + N + 8 in the debug mode)
    PlannedWrite appended;       // the copy of the old moov, at S
    std::vector<PlannedWrite> in_place;  // over the old moov region
};

// The 16-byte mdat header is needed once a 32-bit size could no longer hold
// S - P for any moov that fits below the limit.
constexpr uint64_t kMdat64From = 0x7FFF0000;  // 2,147,418,112

uint64_t mdat_header_size(uint64_t file_size, bool force_mdat64);
// Bytes the in-place record needs inside the old moov region (N - H >= this).
uint64_t undo_record_room();

RelocationPlan plan_relocation(const RelocationInput& in);
