// The child walk of a container body, shared by every container and by the
// fragment parser. A child is taken only while its 8-byte header fits and its
// 32-bit size lies between 8 and the bytes left; the first child that breaks
// this ends the walk silently (sizes 0 and 1 are never interpreted here).
#pragma once

#include <cstddef>
#include <cstdint>

#include "atoms/be.h"

struct ChildAtom {
    uint32_t type;
    const unsigned char* atom;  // the header's first byte
    size_t size;                // header included
    const unsigned char* body() const { return atom + 8; }
    size_t body_len() const { return size - 8; }
};

template <typename Visit>
void walk_children(const unsigned char* data, size_t len, Visit&& visit) {
    size_t at = 0;
    while (len - at >= 8) {
        uint32_t size = be::read_u32(data + at);
        if (size < 8 || size > len - at) return;
        visit(ChildAtom{be::read_u32(data + at + 4), data + at, size});
        at += size;
    }
}
