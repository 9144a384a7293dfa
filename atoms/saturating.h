// Offset arithmetic on values read from files: a sum or product that would
// leave the 64-bit range stops at its top, which lies past every file's end.
#pragma once

#include <cstdint>

inline uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

inline uint64_t saturating_mul(uint64_t a, uint64_t b) {
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}
