#include "tables/sdtp.h"

#include <cassert>

#include "atoms/fourcc.h"
#include "tables/sample_flags.h"

// Layout of the body (after the 8-byte header):
//   u8 version (0) | u24 flags | one byte per sample up to the end of the body

void qt_sdtp_info::clear() {
    tbl.clear();
    present = false;
}

void qt_sdtp_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    uint8_t version = r.u8();
    r.skip(3);  // flags: none defined
    if (!r.ok() || version != 0) return;

    present = true;
    size_t n = r.remaining();
    const unsigned char* bytes = r.bytes(n);
    if (n != 0) tbl.assign(bytes, bytes + n);
}

void qt_sdtp_info::add_sample(uint32_t sample_flags, uint64_t sample_index) {
    if (!present) return;
    tbl.resize(static_cast<size_t>(sample_index), 0);
    tbl.push_back(sdtp_byte_from_sample_flags(sample_flags));
}

void qt_sdtp_info::set_sample(uint64_t sample_index, uint8_t byte) {
    present = true;
    if (tbl.size() <= sample_index) tbl.resize(static_cast<size_t>(sample_index) + 1, 0);
    tbl[static_cast<size_t>(sample_index)] = byte;
}

void qt_sdtp_info::keep_samples(uint64_t n) {
    if (tbl.size() > n) tbl.resize(static_cast<size_t>(n));
}

void qt_sdtp_info::write_into(BeWriter& w) const {
    if (tbl.empty()) return;
    size_t start = w.begin_atom(fourcc("sdtp"));
    w.version_flags(0, 0);
    w.bytes(tbl.data(), tbl.size());
    w.end_atom(start);
    assert(w.size() - start == 12 + tbl.size());
}
