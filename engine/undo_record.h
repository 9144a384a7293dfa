// The undo record: what a conversion keeps in the file to take itself back,
// in two top-level atoms of type TOLV. Written by the relocation, read by
// the undo; this file is the one definition of its layout.
//
// With M the original moov's offset, N its payload length, H the new mdat
// header's size (8 or 16), S the original file size and L the length of the
// version text; every number big-endian, every atom an 8-byte header:
//
// In place, from M (the new mdat header follows at M + 8 + N - H):
//     0  u32 N - H + 8 | 'TOLV'
//     8  u32 L + 8     | 'VERS' | L bytes of version text, no terminator
// 16+L   u32 64        | 'ORIG'
// 24+L     u32 16 | 'OFSZ' | u64 S
// 40+L     u32 16 | 'OMDT' | u64 offset of the original first mdat header
// 56+L     u32 24 | 'OMOV' | u64 M | u64 offset of the saved copy's moov header
// 80+L   u32 0: the end of the children; leftover moov bytes up to the end
//
// Appended at S (the debug mode appends the bare moov atom instead):
//     0  u32 N + 24 | 'TOLV' | u32 N + 16 | 'ORIG' | u32 N + 8 | 'moov' | N bytes
//
// The reader takes the first ORIG of the TOLV atom and, of its children, the
// last OFSZ, OMDT and OMOV whose payload holds its values; it never reads
// VERS and reaches the copy only through the OMOV value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>


struct UndoRecord {
    uint64_t orig_size = 0;      // OFSZ: S
    uint64_t orig_mdat = 0;      // OMDT
    uint64_t orig_moov = 0;      // OMOV, first value: M
    uint64_t saved_moov_at = 0;  // OMOV, second value

    // Every value present: none of them is 0 in a record a conversion wrote.
    bool complete() const { return orig_size != 0 && orig_mdat != 0 && orig_moov != 0 && saved_moov_at != 0; }
};

const std::string& vers_string();
// The bytes the in-place record needs from M + 8 (N - H >= this).
uint64_t undo_record_room();

// The pieces of the in-place record, each written on its own.
std::vector<unsigned char> tolv_header(uint64_t payload_len);
std::vector<unsigned char> vers_atom();
std::vector<unsigned char> orig_atom_and_end(const UndoRecord& r);
// The head of the appended copy (24 bytes), or of the bare moov of the debug mode.
std::vector<unsigned char> appended_head(uint64_t payload_len, bool bare);

// A whole moov atom around its payload: what the conversion saves and the
// undo puts back.
std::vector<unsigned char> moov_atom_bytes(const std::vector<unsigned char>& payload);

// Reads the record from the payload of a TOLV atom; false when it has no
// ORIG child. Values the record lacks stay 0.
bool decode_undo_record(const unsigned char* tolv_payload, size_t len, UndoRecord& out);
