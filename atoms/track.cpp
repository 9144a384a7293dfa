#include "atoms/track.h"

#include <algorithm>

#include "atoms/fourcc.h"

void qt_track_info::clear() {
    tkhd.clear();
    edts.clear();
    mdia.clear();
    other_atoms.clear();
}

void qt_track_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) {
        switch (c.type) {
            case fourcc("tkhd"): tkhd.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("edts"): edts.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("mdia"): mdia.parse_atom_data(c.body(), c.body_len()); break;
            default: other_atoms.add(c); break;
        }
    });
}

void qt_track_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("trak"));
    tkhd.write_into(w);
    edts.write_into(w);  // before mdia, in the order ISO gives
    mdia.write_into(w);
    other_atoms.write_into(w);
    w.end_atom(start);
}

namespace {

// Walks stts and ctts together in stretches of samples with equal duration
// and equal composition offset: visit(first decode time, sample count,
// duration, offset).
template <typename Visit>
void for_each_stretch(const qt_stbl_info& t, Visit&& visit) {
    const auto& ctts = t.ctts.tbl;
    uint64_t decode = 0;
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
            visit(decode, n, run.duration, have_offset ? ctts[ci].offset : 0);
            decode += n * run.duration;
            left -= n;
            if (have_offset) ctts_left -= n;
        }
    }
}

}  // namespace

uint64_t qt_track_info::presentationEnd() const {
    // Within a stretch the last sample ends latest.
    int64_t latest = 0;
    for_each_stretch(stbl(), [&](uint64_t decode, uint64_t n, uint32_t duration, int32_t offset) {
        latest = std::max(latest, static_cast<int64_t>(decode + n * duration) + offset);
    });
    return std::max(static_cast<uint64_t>(latest), sumSampleDurations());
}

int64_t qt_track_info::presentationStart() const {
    // Within a stretch the first sample starts earliest.
    bool any = false;
    int64_t earliest = 0;
    for_each_stretch(stbl(), [&](uint64_t decode, uint64_t, uint32_t, int32_t offset) {
        const int64_t start = static_cast<int64_t>(decode) + offset;
        earliest = any ? std::min(earliest, start) : start;
        any = true;
    });
    return earliest;
}

void qt_track_info::appendSample(uint32_t duration, uint32_t size, uint32_t flags,
                                 int32_t composition_offset, uint64_t sample_index) {
    qt_stbl_info& t = stbl();
    t.stts.addSampleDuration(duration);
    t.stsz.addSampleSize(size);
    t.stss.addSample(flags, sample_index + 1);
    // Samples the moov held without a ctts have offset 0; say so before the
    // first appended offset so the table covers every sample.
    t.ctts.padToSampleCount(sample_index);
    t.ctts.addSampleCompOffset(composition_offset);
    t.sdtp.addSample(flags, sample_index);
}

void qt_track_info::appendChunk(uint64_t offset, uint32_t samples, uint32_t sample_description_index) {
    qt_stbl_info& t = stbl();
    t.stco.addChunkOffset(offset);
    t.stsc.addChunk(t.stco.tbl.size(), samples, sample_description_index);
}
