// Shared pieces of the end-to-end tests: the synthetic fragmented files they
// start from, the expected layout of a file after --dbg-move-moov, and the
// check that a refusal leaves the file exactly as it was.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace e2e {

using mp4b::Atom;
using tool::Bytes;

extern const char kDebugDone[];
extern const char kVersionPrefix[];

Atom isom_ftyp();
Atom mdat(size_t payload_len, unsigned char fill = 0xAB);
// moof, mdat, moof, mdat: two fragments of one track.
std::vector<Atom> two_fragments();
// ftyp (isom), a fragmented moov of exactly `moov_payload` payload bytes,
// then `rest`.
std::vector<Atom> fragmented_file(uint64_t moov_payload, std::vector<Atom> rest);

// The switches followed by "-f path".
std::vector<std::string> with_file(std::vector<std::string> switches, const std::string& path);

// Runs the tool on `path`; expects status 1, exactly `err` on stderr, nothing
// on stdout, and the file's bytes unchanged.
void expect_refused(const std::string& path, const std::vector<std::string>& switches,
                    const std::string& err);

using tool::difference;

uint32_t u32_at(const std::string& path, uint64_t offset);
uint64_t u64_at(const std::string& path, uint64_t offset);
std::string type_at(const std::string& path, uint64_t offset);
void put_u32_at(const std::string& path, uint64_t offset, uint32_t value);
void put_u64_at(const std::string& path, uint64_t offset, uint64_t value);
void put_type_at(const std::string& path, uint64_t offset, const std::string& type);

// What a conversion needs to know about the original file.
struct Original {
    uint64_t size = 0;           // S
    uint64_t moov_at = 0;        // M
    uint64_t moov_payload = 0;   // N
    uint64_t first_mdat_at = 0;  // the original first mdat's header
    Bytes moov_atom;             // the whole original moov, header included
};
Original describe(const std::string& path);

// Offsets in a file relocated by --dbg-move-moov.
struct Relocated {
    uint64_t M = 0, N = 0, S = 0, H = 0, L = 0;
    uint64_t P() const { return M + 8 + N - H; }
    uint64_t orig_at() const { return M + 16 + L; }
    uint64_t ofsz_value_at() const { return orig_at() + 16; }
    uint64_t omdt_value_at() const { return orig_at() + 32; }
    uint64_t omov_moov_at() const { return orig_at() + 48; }
    uint64_t omov_saved_at() const { return orig_at() + 56; }
    uint64_t final_zero_at() const { return orig_at() + 64; }
};

// Checks the whole layout of a file converted with --dbg-move-moov and header
// form H: the in-place TOLV with its record, the new mdat header, the bare
// moov copy at S, and the original bytes kept before M and after the new
// header. `original_head` holds the original file's first bytes (all of them
// for a small file). Returns the offsets, L read from the VERS atom.
Relocated expect_debug_layout(const std::string& path, const Original& original, uint64_t H,
                              const Bytes& original_head);

// Length of the version text, learnt once by converting a synthetic file;
// 0 when that conversion failed.
uint64_t version_text_length();

}  // namespace e2e
