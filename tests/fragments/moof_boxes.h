// The boxes of a movie fragment, built as inputs for the parser and merger
// tests. Expected values are always written out by hand.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "tests/support/atom_bytes.h"

namespace moof_boxes {

using namespace atom_bytes;

// `optional`: the fields that the flags announce, in their order.
inline Bytes tfhd(uint32_t flags, uint32_t track_id, const Bytes& optional = {}) {
    return full_atom("tfhd", 0, flags, cat({words({track_id}), optional}));
}

inline Bytes tfdt(uint64_t decode_time) { return full_atom("tfdt", 1, 0, u64(decode_time)); }

// `fields`: the flagged data offset and first-sample flags, then the flagged
// fields of each sample.
inline Bytes trun(uint32_t flags, uint32_t sample_count, const Bytes& fields = {}, uint8_t version = 0) {
    return full_atom("trun", version, flags, cat({words({sample_count}), fields}));
}

inline Bytes traf(std::initializer_list<Bytes> children) { return atom("traf", cat(children)); }

// An mfhd of sequence number 1, then the trafs.
inline Bytes moof(std::initializer_list<Bytes> trafs) {
    return cat({full_atom("mfhd", 0, 0, words({1})), cat(trafs)});
}

}  // namespace moof_boxes
