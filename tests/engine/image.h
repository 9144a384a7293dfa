// The converted image that the undo and recovery tests damage; the engine
// reads it, as every byte image, through a FileReader over the bytes.
#pragma once

#include <gtest/gtest.h>
#include <algorithm>

#include "engine/relocation.h"
#include "tests/support/atom_bytes.h"
#include "tests/support/mp4_builder.h"

namespace engine_test {

using atom_bytes::Bytes;

// ftyp (28 bytes), a fragmented moov of N = 200 payload bytes at M = 28, the
// first mdat at 236, a second one up to S = 400; then relocated as planned:
// the normal layout ends in the copy inside TOLV/ORIG, the debug layout in
// the bare copy.
struct Converted {
    uint64_t M = 28, N = 200, S = 400, H, P, O, copy;  // O: the ORIG atom; copy: the saved moov's header
    Bytes original, moov, bytes;
    RelocationPlan plan;
};

inline Converted converted(bool mdat64, bool debug) {
    Converted c;
    c.original = mp4b::serialise({mp4b::ftyp("isom", 512, {"isom", "iso2", "mp41"}), mp4b::moov_with_payload(200, true),
                                  mp4b::raw_of_size("mdat", 64, 0xAB), mp4b::raw_of_size("mdat", 84, 0x11)});
    c.moov.assign(c.original.begin() + 28, c.original.begin() + 236);
    const Bytes payload(c.moov.begin() + 8, c.moov.end());
    c.plan = plan_relocation({c.M, 236, c.S, mdat64, debug, &payload});
    c.bytes = c.original;
    for (const PlannedWrite& w : c.plan.in_place) std::copy(w.bytes.begin(), w.bytes.end(), c.bytes.begin() + w.at);
    c.bytes.insert(c.bytes.end(), c.plan.appended.bytes.begin(), c.plan.appended.bytes.end());
    c.H = mdat64 ? 16 : 8;
    c.P = c.M + 8 + c.N - c.H;
    c.O = c.M + 16 + 76;  // after the TOLV header and VERS
    c.copy = c.plan.saved_moov_at;
    return c;
}

}  // namespace engine_test
