#include "movie/elst.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0 or 1) | u24 flags | u32 entry count | entry count *
//   version 0: {u32 segment_duration, s32 media_time, s16 rate integer, s16 rate fraction}
//   version 1: {u64 segment_duration, s64 media_time, s16 rate integer, s16 rate fraction}

namespace {

constexpr size_t kEntryBytesV0 = 12;
constexpr size_t kEntryBytesV1 = 20;

bool needs_v1(const qt_edit_list_entry_t& e) {
    return e.segment_duration > std::numeric_limits<uint32_t>::max() ||
           e.media_time < std::numeric_limits<int32_t>::min() ||
           e.media_time > std::numeric_limits<int32_t>::max();
}

}  // namespace

void qt_elst_info::clear() {
    entries.clear();
    present = false;
}

void qt_elst_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    uint8_t version = 0;
    const size_t n = read_table_header(r, {kEntryBytesV0, kEntryBytesV1}, &version);
    if (!r.ok()) return;
    present = true;

    entries.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        qt_edit_list_entry_t e{};
        if (version == 1) {
            e.segment_duration = r.u64();
            e.media_time = static_cast<int64_t>(r.u64());
        } else {
            e.segment_duration = r.u32();
            e.media_time = r.s32();
        }
        e.media_rate_integer = static_cast<int16_t>(r.u16());
        e.media_rate_fraction = static_cast<int16_t>(r.u16());
        entries.push_back(e);
    }
}

uint64_t qt_elst_info::total_duration() const {
    uint64_t sum = 0;
    for (const qt_edit_list_entry_t& e : entries) {
        sum = e.segment_duration > std::numeric_limits<uint64_t>::max() - sum ? std::numeric_limits<uint64_t>::max()
                                                                              : sum + e.segment_duration;
    }
    return sum;
}

void qt_elst_info::write_into(BeWriter& w) const {
    if (!present) return;
    const bool v1 = std::any_of(entries.begin(), entries.end(), needs_v1);
    const size_t start = w.begin_atom(fourcc("elst"));
    w.version_flags(v1 ? 1 : 0, 0);
    w.count32(entries.size());
    for (const qt_edit_list_entry_t& e : entries) {
        if (v1) {
            w.u64(e.segment_duration);
            w.u64(static_cast<uint64_t>(e.media_time));
        } else {
            w.u32(static_cast<uint32_t>(e.segment_duration));
            w.u32(static_cast<uint32_t>(static_cast<int32_t>(e.media_time)));
        }
        w.u16(static_cast<uint16_t>(e.media_rate_integer));
        w.u16(static_cast<uint16_t>(e.media_rate_fraction));
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + (v1 ? kEntryBytesV1 : kEntryBytesV0) * entries.size());
}
