#include "tables/stsz.h"

#include <algorithm>
#include <cassert>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 sample size | u32 sample count
//   | sample count * u32 size, present only when sample size is 0

namespace {
constexpr size_t kEntryBytes = 4;
}  // namespace

void qt_stsz_info::clear() {
    sample_size = 0;
    constant_count = 0;
    tbl.clear();
}

void qt_stsz_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    uint8_t version = r.u8();
    r.skip(3);  // flags: none defined
    uint32_t size = r.u32();
    uint32_t count = r.u32();
    if (!r.ok() || version != 0) return;

    if (size != 0) {
        // Entries after a constant size are meaningless and ignored.
        sample_size = size;
        constant_count = count;
        return;
    }
    size_t n = std::min<size_t>(count, r.remaining() / kEntryBytes);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) tbl.push_back(r.u32());
}

void qt_stsz_info::addSampleSize(uint32_t size) {
    if (sample_size != 0) {
        if (size == sample_size) {
            ++constant_count;
            return;
        }
        tbl.assign(constant_count, sample_size);
        sample_size = 0;
        constant_count = 0;
    }
    tbl.push_back(size);
}

void qt_stsz_info::keep_samples(uint64_t n) {
    if (sample_count() <= n) return;
    if (sample_size != 0) constant_count = static_cast<uint32_t>(n);
    else tbl.resize(static_cast<size_t>(n));
}

void qt_stsz_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("stsz"));
    w.version_flags(0, 0);
    w.u32(sample_size);
    if (sample_size != 0) {
        assert(tbl.empty());
        w.u32(constant_count);
    } else {
        w.count32(tbl.size());
        for (uint32_t size : tbl) w.u32(size);
    }
    w.end_atom(start);
    assert(w.size() - start == 20 + kEntryBytes * tbl.size());
}
