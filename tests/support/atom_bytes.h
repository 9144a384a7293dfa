// Bytes for tests that feed hand-made atoms to the parsers and compare what
// the writers produce with golden bytes. The builders here are for inputs;
// expected output is always written out by hand as hex.
#pragma once

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "atoms/be.h"

namespace atom_bytes {

using Bytes = std::vector<unsigned char>;

// Hex digits to bytes. Spaces and line breaks are only there for reading;
// any other character (a stray four-character code, an odd digit count) is a
// mistake in the test and throws std::invalid_argument.
inline Bytes hex(const std::string& text) {
    Bytes out;
    std::string pair;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(std::string("not a hex digit: ") + c);
        pair += c;
        if (pair.size() == 2) out.push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16))), pair.clear();
    }
    return pair.empty() ? out : throw std::invalid_argument("odd number of hex digits");
}

// The bytes as hex, four bytes to a group, 32 bytes to a line: failure
// messages of golden comparisons stay readable.
inline std::string to_hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i)
        out += std::string(i == 0 ? "" : i % 32 == 0 ? "\n" : i % 4 == 0 ? " " : "") + kDigits[bytes[i] / 16] +
               kDigits[bytes[i] % 16];
    return out;
}

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
