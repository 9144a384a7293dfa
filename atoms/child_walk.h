// The child walk of a container body held in memory, shared by every
// container and by the fragment parser. Headers follow the one rule of
// atoms/atom_header.h; a child that runs past the body's end ends the walk
// unvisited, unless the walk is told to take it cut to what the body holds
// (a fragment cut off by the end of the file).
#pragma once

#include <cstddef>
#include <cstdint>

#include "atoms/atom_header.h"

struct ChildAtom {
    uint32_t type;
    const unsigned char* atom;  // the header's first byte
    size_t size;                // header included, as far as the body holds it
    size_t header = 8;          // 8, or 16 in the 64-bit form
    bool cut = false;           // declared to run past the body's end

    const unsigned char* body() const { return atom + header; }
    size_t body_len() const { return size - header; }
};

template <typename Visit>
void walk_children(const unsigned char* data, size_t len, Visit&& visit, bool take_cut = false) {
    size_t at = 0;
    AtomHeader h;
    while (read_atom_header(data + at, len - at, at, len, h) == HeaderRead::ok) {
        const bool cut = h.end > len;
        if (cut && !take_cut) return;
        const size_t end = cut ? len : static_cast<size_t>(h.end);
        visit(ChildAtom{h.type, data + at, end - at, h.header, cut});
        at = end;
    }
}
