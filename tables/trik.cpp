#include "tables/trik.h"

#include <cassert>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header):
//   u8 version (0) | u24 flags | one byte per sample up to the end of the body:
//   u2 pic_type | u6 dependency_level

void qt_trik_info::clear() {
    tbl.clear();
    present = false;
}

bool qt_trik_info::parse_atom_data(const unsigned char* data, size_t len) {
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

void qt_trik_info::set_sample(uint64_t sample_index, uint8_t byte) {
    present = true;
    if (tbl.size() <= sample_index) tbl.resize(static_cast<size_t>(sample_index) + 1, 0);
    tbl[static_cast<size_t>(sample_index)] = byte;
}

void qt_trik_info::keep_samples(uint64_t n) {
    if (tbl.size() > n) tbl.resize(static_cast<size_t>(n));
}

void qt_trik_info::write_into(BeWriter& w) const {
    if (tbl.empty()) return;
    size_t start = w.begin_atom(fourcc("trik"));
    w.version_flags(0, 0);
    w.bytes(tbl.data(), tbl.size());
    w.end_atom(start);
    assert(w.size() - start == 12 + tbl.size());
}
