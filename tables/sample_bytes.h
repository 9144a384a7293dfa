// A table of one byte per sample, with no entry count, in a track's stbl or
// in a traf: sdtp (is_leading, depends_on, is_depended_on, has_redundancy,
// two bits each) and trik (pic_type in the top 2 bits, dependency_level in
// the other 6). The number of samples comes from the body length; bytes
// read are kept as they are. Fragment samples are added once the table
// exists, from the movie atom or from the first traf that carries one:
// samples before it get 0 (nothing known), so that the table keeps one byte
// per sample. Only version 0 is read.
//
// Layout of the body (after the 8-byte header):
//   u8 version (0) | u24 flags | one byte per sample up to the end of the body
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

template <uint32_t Type>
class SampleByteTable {
public:
    std::vector<uint8_t> tbl;
    bool present = false;

    void clear() {
        tbl.clear();
        present = false;
    }

    // False, with the table cleared, for a body it cannot read.
    bool parse_atom_data(const unsigned char* data, size_t len) {
        clear();
        BeReader r(data, len);
        const uint8_t version = r.u8();
        r.skip(3);  // flags: none defined
        if (!r.ok() || version != 0) return false;
        present = true;
        const size_t n = r.remaining();
        const unsigned char* bytes = r.bytes(n);
        if (n != 0) tbl.assign(bytes, bytes + n);
        return true;
    }

    // Puts the byte of the sample at 0-based `sample_index`, creating the
    // table when there is none.
    void set_sample(uint64_t sample_index, uint8_t byte) {
        present = true;
        if (tbl.size() <= sample_index) tbl.resize(static_cast<size_t>(sample_index) + 1, 0);
        tbl[static_cast<size_t>(sample_index)] = byte;
    }

    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n) {
        if (tbl.size() > n) tbl.resize(static_cast<size_t>(n));
    }

    void write_into(BeWriter& w) const {
        if (tbl.empty()) return;
        const size_t start = w.begin_atom(Type);
        w.version_flags(0, 0);
        w.bytes(tbl.data(), tbl.size());
        w.end_atom(start);
        assert(w.size() - start == 12 + tbl.size());
    }
};
