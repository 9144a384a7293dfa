#include "movie/track.h"

#include <algorithm>
#include <cstdint>

#include "atoms/fourcc.h"

namespace {
enum Kind : int { kTkhd, kEdts, kMdia };
}  // namespace

void qt_track_info::clear() {
    tkhd.clear();
    edts.clear();
    mdia.clear();
    other_atoms.clear();
    order.clear();
}

int qt_track_info::parse_child(const ChildAtom& c) {
    switch (c.type) {
        case fourcc("tkhd"): tkhd.parse_atom_data(c.body(), c.body_len()); return kTkhd;
        case fourcc("edts"): edts.parse_atom_data(c.body(), c.body_len()); return kEdts;
        case fourcc("mdia"): mdia.parse_atom_data(c.body(), c.body_len()); return kMdia;
        default: return ChildOrder::kRaw;
    }
}

void qt_track_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) { order.add(parse_child(c), other_atoms, c); });
}

void qt_track_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("trak"));
    // The edit box before mdia, in the order ISO gives.
    order.write_into(w, other_atoms, {1, 1, 1}, ChildOrder::after_last(kMdia), [&](int kind, size_t) {
        if (kind == kTkhd) tkhd.write_into(w);
        else if (kind == kEdts) edts.write_into(w);
        else mdia.write_into(w, options);
    });
    w.end_atom(start);
}

namespace {

// Decode times stay at or below this, so that a 32-bit composition offset
// added to any of them, or to the end of a sample, stays within the signed
// 64-bit range of an edit list's media times.
constexpr uint64_t kMaxDecodeTime = static_cast<uint64_t>(INT64_MAX - INT32_MAX);

// Walks stts and ctts together in stretches of samples with equal duration
// and equal composition offset, from decode time 0 on: visit(first decode
// time, length in ticks, offset). Returns false, having stopped, when a
// decode time would pass `limit`.
template <typename Visit>
bool for_each_stretch(const qt_stbl_info& t, uint64_t limit, Visit&& visit) {
    uint64_t decode = 0;
    const auto& ctts = t.ctts.tbl;
    size_t ci = 0;
    uint64_t ctts_left = ctts.empty() ? 0 : ctts[0].count;
    for (const auto& run : t.stts.tbl) {
        uint64_t left = run.count;
        while (left > 0) {
            while (ci < ctts.size() && ctts_left == 0) {
                if (++ci < ctts.size()) ctts_left = ctts[ci].count;
            }
            const bool have_offset = ci < ctts.size();
            const uint64_t n = have_offset ? std::min(left, ctts_left) : left;
            const uint64_t length = n * run.duration;  // both below 2^32
            if (length > limit - decode) return false;
            visit(decode, length, have_offset ? ctts[ci].offset : 0);
            decode += length;
            left -= n;
            if (have_offset) ctts_left -= n;
        }
    }
    return true;
}

}  // namespace

std::optional<PresentationSpan> qt_track_info::presentation_span() const {
    constexpr int64_t kMax = static_cast<int64_t>(kMaxDecodeTime);
    // Decode times from decode_start on stay within -kMax and kMax.
    if (decode_start < -kMax || decode_start > kMax) return std::nullopt;
    const uint64_t limit = static_cast<uint64_t>(decode_start > 0 ? kMax - decode_start : kMax);
    bool any = false;
    int64_t earliest = 0;
    int64_t latest = 0;  // the decode end may lie past every presentation end
    const bool fits = for_each_stretch(stbl(), limit, [&](uint64_t decode, uint64_t length, int32_t offset) {
        // Within a stretch the first sample starts earliest and the last one
        // ends latest.
        const int64_t first = static_cast<int64_t>(decode) + offset;
        const int64_t end = static_cast<int64_t>(decode + length);
        earliest = any ? std::min(earliest, first) : first;
        latest = std::max({latest, end, end + offset});
        any = true;
    });
    if (!fits) return std::nullopt;
    return PresentationSpan{earliest, static_cast<uint64_t>(latest)};
}

void qt_track_info::appendSample(uint32_t duration, uint32_t size, uint32_t flags,
                                 int32_t composition_offset, uint64_t sample_index) {
    qt_stbl_info& t = stbl();
    t.stts.addSampleDuration(duration);
    t.stsz.addSampleSize(size);
    t.stss.addSyncSample(flags, sample_index + 1);
    // Samples the moov held without a ctts have offset 0; say so before the
    // first appended offset so the table covers every sample.
    t.ctts.pad_to_sample_count(sample_index);
    t.ctts.addSampleCompOffset(composition_offset);
    add_sdtp_sample(t.sdtp, flags, sample_index);
}

void qt_track_info::appendChunk(uint64_t offset, uint32_t samples, uint32_t sample_description_index) {
    qt_stbl_info& t = stbl();
    t.stco.addChunkOffset(offset);
    t.stsc.addChunk(t.stco.tbl.size(), samples, sample_description_index);
}
