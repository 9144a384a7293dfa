#include "tables/subs.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <utility>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0 or 1) | u24 flags | u32 entry_count
//   | entry_count * { u32 sample_delta | u16 subsample_count
//                   | subsample_count * { u16 (version 0) or u32 (version 1) subsample_size,
//                                         u8 subsample_priority, u8 discardable,
//                                         u32 codec_specific_parameters } }

namespace {
constexpr uint8_t kVersionNarrow = 0;
constexpr uint8_t kVersionWide = 1;
constexpr size_t kEntryHeadBytes = 6;
constexpr size_t kNarrowSubsampleBytes = 8;
constexpr size_t kWideSubsampleBytes = 10;
}  // namespace

void qt_subs_info::clear() {
    flags = 0;
    entries.clear();
}

bool qt_subs_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const uint8_t version = r.u8();
    flags = r.u24();
    const uint32_t count = r.u32();
    if (!r.ok() || version > kVersionWide) {
        clear();
        return false;
    }
    const size_t subsample_bytes = version == kVersionWide ? kWideSubsampleBytes : kNarrowSubsampleBytes;
    uint64_t number = 0;
    // An entry cut short ends the table; the entries before it stay.
    for (uint32_t i = 0; i < count && r.remaining() >= kEntryHeadBytes; ++i) {
        qt_subsample_entry_t e;
        number += r.u32();
        e.sample_number = number;
        const uint16_t n = r.u16();
        if (r.remaining() / subsample_bytes < n) break;
        e.subsamples.reserve(n);
        for (uint16_t k = 0; k < n; ++k) {
            qt_subsample_t s;
            s.size = version == kVersionWide ? r.u32() : r.u16();
            s.priority = r.u8();
            s.discardable = r.u8();
            s.codec_specific_parameters = r.u32();
            e.subsamples.push_back(s);
        }
        entries.push_back(std::move(e));
    }
    return true;
}

void qt_subs_info::add_entry(qt_subsample_entry_t entry) {
    if (!entries.empty() && entry.sample_number <= entries.back().sample_number) return;
    entries.push_back(std::move(entry));
}

void qt_subs_info::keep_samples(uint64_t n) {
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const qt_subsample_entry_t& e) { return e.sample_number > n; }),
                  entries.end());
}

void qt_subs_info::write_into(BeWriter& w) const {
    bool wide = false;
    for (const qt_subsample_entry_t& e : entries) {
        for (const qt_subsample_t& s : e.subsamples) wide = wide || s.size > std::numeric_limits<uint16_t>::max();
    }
    size_t start = w.begin_atom(fourcc("subs"));
    w.version_flags(wide ? kVersionWide : kVersionNarrow, flags);
    w.count32(entries.size());
    uint64_t previous = 0;
    size_t subsamples = 0;
    for (const qt_subsample_entry_t& e : entries) {
        w.count32(e.sample_number - previous);  // a distance in samples
        previous = e.sample_number;
        // Read with a 16-bit count, appended from such entries.
        assert(e.subsamples.size() <= std::numeric_limits<uint16_t>::max());
        w.u16(static_cast<uint16_t>(e.subsamples.size()));
        subsamples += e.subsamples.size();
        for (const qt_subsample_t& s : e.subsamples) {
            if (wide) w.u32(s.size);
            else w.u16(static_cast<uint16_t>(s.size));
            w.u8(s.priority);
            w.u8(s.discardable);
            w.u32(s.codec_specific_parameters);
        }
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + kEntryHeadBytes * entries.size() + (wide ? kWideSubsampleBytes : kNarrowSubsampleBytes) * subsamples);
}
