// What Common Encryption says about a protected sample description: its
// sample entry (encv, enca, ...) in stsd holds sinf, with schm naming the
// scheme ('cenc', 'cbcs' ...) and schi holding tenc (or PIFF's track
// encryption uuid box, of the same layout up to the IV size) with the
// default per-sample IV size. Only what the conversion needs is read: the key
// ID, the pattern and a constant IV are not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "atoms/raw_atom.h"

struct SampleProtection {
    bool known = false;  // a tenc was found
    uint32_t scheme_type = 0;
    uint8_t per_sample_iv_size = 0;
};

// The protection of the `description_index`th (1-based) entry of an stsd
// atom (its whole bytes, header included); not known when there is none.
SampleProtection sample_protection(const RawAtom& stsd, uint32_t description_index);
