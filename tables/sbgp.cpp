#include "tables/sbgp.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0 or 1) | u24 flags | u32 grouping_type
//   | version 1: u32 grouping_type_parameter
//   | u32 entry_count | entry_count * {u32 sample_count, u32 group_description_index}

namespace {
constexpr size_t kRunBytes = 8;
constexpr uint32_t kMaxRunCount = std::numeric_limits<uint32_t>::max();
}  // namespace

void qt_sbgp_info::clear() {
    grouping_type = 0;
    has_parameter = false;
    grouping_type_parameter = 0;
    tbl.clear();
    sample_count_ = 0;
}

bool qt_sbgp_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const uint8_t version = r.u8();
    r.skip(3);  // flags: none defined
    grouping_type = r.u32();
    has_parameter = version == 1;
    if (has_parameter) grouping_type_parameter = r.u32();
    const uint32_t count = r.u32();
    if (!r.ok() || version > 1) {
        clear();
        return false;
    }
    const size_t n = std::min<size_t>(count, r.remaining() / kRunBytes);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t samples = r.u32();
        const uint32_t index = r.u32();
        tbl.push_back({samples, index});
        sample_count_ += samples;
    }
    return true;
}

void qt_sbgp_info::cover_samples(uint64_t n) {
    if (n > sample_count_) {
        add_samples(n - sample_count_, 0);
        return;
    }
    while (sample_count_ > n) {
        const uint64_t cut = std::min<uint64_t>(tbl.back().count, sample_count_ - n);
        tbl.back().count -= static_cast<uint32_t>(cut);
        sample_count_ -= cut;
        if (tbl.back().count == 0) tbl.pop_back();
    }
}

void qt_sbgp_info::add_samples(uint64_t count, uint32_t group_index) {
    sample_count_ += count;
    while (count > 0) {
        // A run holds at most 2^32 - 1 samples; past that a new run starts.
        if (tbl.empty() || tbl.back().group_index != group_index || tbl.back().count == kMaxRunCount) {
            tbl.push_back({0, group_index});
        }
        const uint64_t take = std::min<uint64_t>(count, kMaxRunCount - tbl.back().count);
        tbl.back().count += static_cast<uint32_t>(take);
        count -= take;
    }
}

void qt_sbgp_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("sbgp"));
    w.version_flags(has_parameter ? 1 : 0, 0);
    w.u32(grouping_type);
    if (has_parameter) w.u32(grouping_type_parameter);
    w.count32(tbl.size());
    for (const qt_sample_to_group_t& run : tbl) {
        w.u32(run.count);
        w.u32(run.group_index);
    }
    w.end_atom(start);
    assert(w.size() - start == 20 + (has_parameter ? 4 : 0) + kRunBytes * tbl.size());
}
