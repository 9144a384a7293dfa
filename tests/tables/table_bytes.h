// Shared by the sample-table tests: building input bodies for table-driven
// cases.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "atoms/be.h"
#include "tests/support/atom_bytes.h"

using atom_bytes::Bytes;
// What a table writes.
using atom_bytes::written;

// The body of a whole atom, as a container hands it to parse_atom_data.
inline Bytes body_of(const Bytes& atom) {
    return Bytes(atom.begin() + 8, atom.end());
}

// A body with the given version, flags 0, then 32-bit words: the input side
// of table-driven cases (expected bytes are always written out by hand).
inline Bytes body_of(uint8_t version, std::initializer_list<uint32_t> words) {
    Bytes out;
    BeWriter w(out);
    w.version_flags(version, 0);
    for (uint32_t word : words) w.u32(word);
    return out;
}

template <typename Table>
Table parsed(const Bytes& body) {
    Table table;
    table.parse_atom_data(body.data(), body.size());
    return table;
}
