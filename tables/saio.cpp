#include "tables/saio.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0 or 1) | u24 flags | if flags & 1: u32 aux_info_type, u32 aux_info_type_parameter
//   | u32 entry_count | entry_count * offset, u32 in version 0, u64 in version 1

namespace {
constexpr uint8_t kVersionNarrow = 0;
constexpr uint8_t kVersionWide = 1;
constexpr size_t kNarrowBytes = 4;
constexpr size_t kWideBytes = 8;
}  // namespace

void qt_saio_info::clear() {
    info_type = AuxInfoType{};
    offsets.clear();
}

bool qt_saio_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const uint8_t version = r.u8();
    info_type.read(r, r.u24());
    const uint32_t entries = r.u32();
    if (!r.ok() || version > kVersionWide) {
        clear();
        return false;
    }
    const bool wide = version == kVersionWide;
    const size_t n = std::min<size_t>(entries, r.remaining() / (wide ? kWideBytes : kNarrowBytes));
    offsets.reserve(n);
    for (size_t i = 0; i < n; ++i) offsets.push_back(wide ? r.u64() : r.u32());
    return true;
}

void qt_saio_info::write_into(BeWriter& w) const {
    const bool wide = std::any_of(offsets.begin(), offsets.end(),
                                  [](uint64_t o) { return o > std::numeric_limits<uint32_t>::max(); });
    size_t start = w.begin_atom(fourcc("saio"));
    w.version_flags(wide ? kVersionWide : kVersionNarrow, info_type.flags());
    info_type.write(w);
    w.count32(offsets.size());
    for (uint64_t o : offsets) {
        if (wide) w.u64(o);
        else w.u32(static_cast<uint32_t>(o));
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + (info_type.present ? 8 : 0) + offsets.size() * (wide ? kWideBytes : kNarrowBytes));
}
