#include "tables/stts.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"
#include "atoms/saturating.h"
#include "tables/runs.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 entry count | entry count * {u32 count, u32 duration}

namespace {
constexpr size_t kRunBytes = 8;
constexpr uint32_t kMaxRunCount = std::numeric_limits<uint32_t>::max();
}  // namespace

void qt_stts_info::clear() {
    tbl.clear();
    sample_count_ = 0;
    total_duration_ = 0;
}

void qt_stts_info::add_run(qt_time_to_sample_t run) {
    tbl.push_back(run);
    sample_count_ += run.count;
    total_duration_ += uint64_t{run.count} * run.duration;
}

void qt_stts_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const size_t n = read_table_header(r, kRunBytes);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint32_t count = r.u32();
        uint32_t duration = r.u32();
        add_run({count, duration});
    }
}

void qt_stts_info::keep_samples(uint64_t n) {
    if (sample_count_ <= n) return;
    keep_first_samples(tbl, n);
    std::vector<qt_time_to_sample_t> runs = std::move(tbl);
    clear();
    for (const qt_time_to_sample_t& run : runs) add_run(run);
}

void qt_stts_info::addSampleDuration(uint32_t duration) {
    // A full run cannot count one more; start a new one rather than wrap.
    if (!tbl.empty() && tbl.back().duration == duration && tbl.back().count < kMaxRunCount) {
        ++tbl.back().count;
        sample_count_ += 1;
        total_duration_ += duration;
        return;
    }
    add_run({1, duration});
}

void qt_stts_info::padLastSample(uint64_t pad) {
    size_t at = tbl.size();
    while (at > 0 && tbl[at - 1].count == 0) --at;
    if (at == 0) return;  // no sample to lengthen
    --at;

    if (tbl[at].count > 1) {
        qt_time_to_sample_t single{1, tbl[at].duration};
        tbl[at].count -= 1;
        ++at;
        tbl.insert(tbl.begin() + static_cast<std::ptrdiff_t>(at), single);
    }
    // A gap wider than a duration can hold is closed as far as it goes:
    // wrapping would send the timeline backwards, and readers take
    // durations from 2^31 on as negative.
    uint32_t old_duration = tbl[at].duration;
    const uint64_t stretched = uint64_t{old_duration} + pad;
    tbl[at].duration = static_cast<uint32_t>(std::min<uint64_t>(stretched, std::max<uint32_t>(old_duration, INT32_MAX)));
    total_duration_ += uint64_t{tbl[at].duration} - old_duration;
}

bool qt_stts_info::trim_last_samples(uint64_t amount, uint64_t first) {
    if (amount == 0) return true;
    if (first >= sample_count_) return false;
    // What the samples can give, taken from the last one back.
    uint64_t can_give = 0;
    uint64_t samples_left = sample_count_ - first;
    for (size_t i = tbl.size(); i > 0 && samples_left > 0 && can_give < amount; --i) {
        const qt_time_to_sample_t& run = tbl[i - 1];
        const uint64_t n = std::min<uint64_t>(run.count, samples_left);
        if (run.duration > 1) can_give = saturating_add(can_give, n * (run.duration - 1));
        samples_left -= n;
    }
    if (can_give < amount) return false;

    uint64_t left = amount;
    for (size_t i = tbl.size(); left > 0; --i) {
        const qt_time_to_sample_t run = tbl[i - 1];
        if (run.count == 0 || run.duration <= 1) continue;
        const uint64_t each = run.duration - 1;
        const uint64_t to_one = std::min<uint64_t>(run.count, left / each);  // the last ones go down to 1
        left -= to_one * each;
        const uint32_t untouched = run.count - static_cast<uint32_t>(to_one);
        // Of the others, the last one gives what is still wanted.
        const uint32_t part = untouched > 0 ? static_cast<uint32_t>(left) : 0;
        left -= part;
        std::vector<qt_time_to_sample_t> split;
        if (part > 0) {
            if (untouched > 1) split.push_back({untouched - 1, run.duration});
            split.push_back({1, run.duration - part});
        } else if (untouched > 0) {
            split.push_back({untouched, run.duration});
        }
        if (to_one > 0) split.push_back({static_cast<uint32_t>(to_one), 1});
        const auto at = tbl.begin() + static_cast<std::ptrdiff_t>(i - 1);
        tbl.insert(tbl.erase(at), split.begin(), split.end());
    }
    total_duration_ -= amount;
    return true;
}

void qt_stts_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("stts"));
    w.version_flags(0, 0);
    w.count32(tbl.size());
    for (const qt_time_to_sample_t& run : tbl) {
        w.u32(run.count);
        w.u32(run.duration);
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + kRunBytes * tbl.size());
}
