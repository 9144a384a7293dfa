#include "tables/stss.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"
#include "tables/sample_flags.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 entry count | entry count * u32 sample number

namespace {
constexpr size_t kEntryBytes = 4;
constexpr uint64_t kMaxSampleNumber = std::numeric_limits<uint32_t>::max();
}  // namespace

void qt_stss_info::clear() {
    tbl.clear();
    present = false;
}

void qt_stss_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const size_t n = read_table_header(r, kEntryBytes);
    if (!r.ok()) return;  // refused: absent, every sample sync

    present = true;
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) tbl.push_back(r.u32());
}

void qt_stss_info::addSyncSample(uint32_t sample_flags, uint64_t sample_number) {
    // The merger keeps a track's samples within 32-bit numbers.
    assert(sample_number <= kMaxSampleNumber);
    if (is_sync_sample_flags(sample_flags)) {
        if (present) tbl.push_back(static_cast<uint32_t>(sample_number));
        return;
    }
    if (present) return;

    const uint64_t last_sync = sample_number > 0 ? sample_number - 1 : 0;
    tbl.reserve(static_cast<size_t>(last_sync));
    for (uint64_t n = 1; n <= last_sync; ++n) tbl.push_back(static_cast<uint32_t>(n));
    present = true;
}

void qt_stss_info::keep_samples(uint64_t n) {
    tbl.erase(std::remove_if(tbl.begin(), tbl.end(), [&](uint32_t number) { return number > n; }), tbl.end());
}

void qt_stss_info::write_into(BeWriter& w) const {
    if (!present) return;
    size_t start = w.begin_atom(fourcc("stss"));
    w.version_flags(0, 0);
    w.count32(tbl.size());
    for (uint32_t number : tbl) w.u32(number);
    w.end_atom(start);
    assert(w.size() - start == 16 + kEntryBytes * tbl.size());
}
