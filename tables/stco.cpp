#include "tables/stco.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 entry count | entry count * offset,
//   each u32 (stco) or u64 (co64)

namespace {
// co64 takes over from 0xF0000000 on, a margin below the 32-bit limit
// rather than its very edge.
constexpr uint64_t kMaxStcoOffset = 0xEFFFFFFF;
constexpr unsigned kNarrowBits = 32;
constexpr unsigned kWideBits = 64;
constexpr size_t kNarrowBytes = 4;
constexpr size_t kWideBytes = 8;
}  // namespace

void qt_stco_info::clear() {
    max_offset = 0;
    tbl.clear();
}

void qt_stco_info::parse_atom_data(const unsigned char* data, size_t len, unsigned int bits) {
    clear();
    if (bits != kNarrowBits && bits != kWideBits) return;
    const bool wide_entries = bits == kWideBits;
    BeReader r(data, len);
    const size_t n = read_table_header(r, wide_entries ? kWideBytes : kNarrowBytes);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) addChunkOffset(wide_entries ? r.u64() : r.u32());
}

void qt_stco_info::addChunkOffset(uint64_t offset) {
    tbl.push_back(offset);
    max_offset = std::max(max_offset, offset);
}

void qt_stco_info::keep_chunks(uint64_t n) {
    if (tbl.size() <= n) return;
    tbl.resize(static_cast<size_t>(n));
    max_offset = tbl.empty() ? 0 : *std::max_element(tbl.begin(), tbl.end());
}

bool qt_stco_info::wide(bool force_co64) const {
    return force_co64 || max_offset > kMaxStcoOffset;
}

void qt_stco_info::write_into(BeWriter& w, bool force_co64) const {
    const bool wide_entries = wide(force_co64);
    size_t start = w.begin_atom(wide_entries ? fourcc("co64") : fourcc("stco"));
    w.version_flags(0, 0);
    w.count32(tbl.size());
    for (uint64_t offset : tbl) {
        if (wide_entries) {
            w.u64(offset);
        } else {
            // max_offset bounds every entry, and it fits when stco was chosen.
            assert(offset <= std::numeric_limits<uint32_t>::max());
            w.u32(static_cast<uint32_t>(offset));
        }
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + (wide_entries ? kWideBytes : kNarrowBytes) * tbl.size());
}
