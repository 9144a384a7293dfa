// The one rule for atom headers, wherever an atom is read: in a body held
// in memory or at the top level of the file.
//
//   u32 size | u32 type                     size >= 8: the atom's whole length
//   u32 1    | u32 type | u64 size          size >= 16: 64-bit form
//   u32 0    | u32 type                     runs to the end of its parent
//
// A size below its own header (2 to 7, or a 64-bit size below 16) ends the
// walk it was met in. An atom that claims to run past its parent's end is
// still reported, with its declared end; whoever walks decides what to make
// of it (a recording cut short ends in such an atom).
#pragma once

#include <cstddef>
#include <cstdint>

struct AtomHeader {
    uint32_t type = 0;
    uint64_t start = 0;   // the header's first byte
    uint32_t header = 8;  // 8, or 16 in the 64-bit form
    uint64_t end = 0;     // just past the atom as declared (saturated at 2^64 - 1)
    bool size_zero = false;  // declared as running to the end of its parent

    uint64_t body() const { return start + header; }
    uint64_t size() const { return end - start; }
};

enum class HeaderRead {
    ok,
    need_more,  // fewer than the header's bytes were given, but the parent holds them
    ends_walk,  // no header fits before the parent's end, or it is malformed
};

// `p` holds `avail` bytes read from offset `at`; the parent ends at `parent_end`.
HeaderRead read_atom_header(const unsigned char* p, size_t avail, uint64_t at, uint64_t parent_end,
                            AtomHeader& out);

// The most bytes a header takes: what a reader asks for to be sure of one.
constexpr size_t kMaxAtomHeader = 16;
