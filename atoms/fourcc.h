// Four-character codes, compared as the big-endian value of their four bytes.
#pragma once

#include <cstdint>
#include <string>

constexpr uint32_t fourcc(const char (&s)[5]) {
    return (uint32_t(uint8_t(s[0])) << 24) | (uint32_t(uint8_t(s[1])) << 16) |
           (uint32_t(uint8_t(s[2])) << 8) | uint32_t(uint8_t(s[3]));
}

inline std::string fourcc_text(uint32_t type) {
    std::string s(4, ' ');
    for (int i = 0; i < 4; ++i) s[size_t(i)] = char((type >> (24 - 8 * i)) & 0xFF);
    return s;
}
