// Bytes for tests that feed hand-made atoms to the parsers and compare what
// the writers produce with golden bytes. The builders here are for inputs;
// expected output is always written out by hand as hex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "atoms/be.h"

namespace atom_bytes {

using Bytes = std::vector<unsigned char>;

// Hex digits to bytes. Spaces and line breaks are only there for reading;
// any other character (a stray four-character code, an odd digit count) is a
// mistake in the test and throws std::invalid_argument.
Bytes hex(const std::string& text);

// The bytes as hex, four bytes to a group, 32 bytes to a line: failure
// messages of golden comparisons stay readable.
std::string to_hex(const Bytes& bytes);

inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Big-endian 32-bit words.
inline Bytes words(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values) BeWriter(out).u32(v);
    return out;
}

inline Bytes u64(uint64_t value) {
    Bytes out;
    BeWriter(out).u64(value);
    return out;
}

// An atom with `body` after its 8-byte header; the size counts the header.
inline Bytes atom(const char (&type)[5], const Bytes& body) {
    return cat({words({static_cast<uint32_t>(8 + body.size())}), Bytes(type, type + 4), body});
}

// A full atom: version byte and 24 flag bits, then `rest`.
inline Bytes full_atom(const char (&type)[5], uint8_t version, uint32_t flags, const Bytes& rest) {
    return atom(type, cat({words({uint32_t{version} << 24 | (flags & 0xFFFFFF)}), rest}));
}

// What an atom object (anything with write_into(BeWriter&) const) writes.
template <typename Atom>
Bytes written(const Atom& a) {
    Bytes out;
    BeWriter w(out);
    a.write_into(w);
    return out;
}

}  // namespace atom_bytes
