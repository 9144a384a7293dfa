#include "tables/ctts.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"
#include "tables/runs.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0 or 1) | u24 flags | u32 entry count | entry count * {u32 count, s32 offset}

namespace {
constexpr size_t kRunBytes = 8;
constexpr uint8_t kVersionUnsigned = 0;
constexpr uint8_t kVersionSigned = 1;
constexpr uint32_t kMaxRunCount = std::numeric_limits<uint32_t>::max();
}  // namespace

void qt_ctts_info::clear() {
    tbl.clear();
    sample_count_ = 0;
}

void qt_ctts_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    // Both versions hold the same 32 bits; the writer picks the version by sign.
    const size_t n = read_table_header(r, kRunBytes, kVersionSigned);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t count = r.u32();
        int32_t offset = r.s32();
        tbl.push_back({count, offset});
        sample_count_ += count;
    }
}

void qt_ctts_info::add_samples(uint64_t n, int32_t offset) {
    sample_count_ += n;
    while (n > 0) {
        // A run holds at most 2^32 - 1 samples; past that a new run starts.
        if (tbl.empty() || tbl.back().offset != offset || tbl.back().count == kMaxRunCount) {
            tbl.push_back({0, offset});
        }
        uint64_t room = kMaxRunCount - tbl.back().count;
        uint64_t take = std::min(n, room);
        tbl.back().count += static_cast<uint32_t>(take);
        n -= take;
    }
}

void qt_ctts_info::addSampleCompOffset(int32_t offset) {
    add_samples(1, offset);
}

void qt_ctts_info::pad_to_sample_count(uint64_t n) {
    if (n > sample_count_) add_samples(n - sample_count_, 0);
}

void qt_ctts_info::keep_samples(uint64_t n) {
    if (sample_count_ <= n) return;
    keep_first_samples(tbl, n);
    sample_count_ = n;
}

void qt_ctts_info::write_into(BeWriter& w) const {
    bool any_nonzero = false;
    bool any_negative = false;
    for (const qt_composition_offset_t& run : tbl) {
        any_nonzero = any_nonzero || run.offset != 0;
        any_negative = any_negative || run.offset < 0;
    }
    // All offsets 0 means presentation order is decode order: no table needed.
    if (!any_nonzero) return;

    size_t start = w.begin_atom(fourcc("ctts"));
    w.version_flags(any_negative ? kVersionSigned : kVersionUnsigned, 0);
    w.count32(tbl.size());
    for (const qt_composition_offset_t& run : tbl) {
        w.u32(run.count);
        w.u32(static_cast<uint32_t>(run.offset));
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + kRunBytes * tbl.size());
}
