#include "fragments/moof_parser.h"

#include <algorithm>
#include <utility>

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"
#include "fragments/fragment_flags.h"

// Box bodies read here (after the 8-byte header), all big-endian; every box
// opens with u8 version | u24 flags:
//   mfhd  v0: u32 sequence_number
//   tfhd  v0: u32 track_ID, then each if its flag is set, in this order:
//             u64 base_data_offset, u32 sample_description_index,
//             u32 default_sample_duration, u32 default_sample_size,
//             u32 default_sample_flags
//   tfdt  v0: u32 base_media_decode_time;  v1: u64 base_media_decode_time
//   trun  v0/v1: u32 sample_count, then if flagged s32 data_offset and
//             u32 first_sample_flags, then per sample the flagged fields of
//             u32 duration, u32 size, u32 flags, 32-bit composition offset
//             (unsigned in v0, signed in v1)
//   senc  v0: u32 sample_count, then per sample an IV and, with flag 0x2,
//             u16 subsample_count and that many {u16 clear, u32 protected}
//   uuid  a2394f52-5a9b-4f14-a244-6c427c648df4 (PIFF sample encryption):
//             v0 as senc, with flag 0x1 u24 AlgorithmID, u8 IV_size,
//             16 bytes KID before the sample count
//   uuid  6d1d9b05-42d5-44e6-80e2-141daff757b2 (Smooth Streaming tfxd):
//             v0: u32 fragment_absolute_time, u32 fragment_duration;
//             v1: u64 fragment_absolute_time, u64 fragment_duration

namespace {

constexpr size_t kFixedBody = 8;      // version, flags and one 32-bit field
constexpr size_t kTfdtV1Body = 12;
constexpr size_t kFieldBytes = 4;
constexpr size_t kBaseDataOffsetBytes = 8;
constexpr size_t kUuidBytes = 16;
constexpr unsigned char kPiffSampleEncryption[kUuidBytes] = {0xA2, 0x39, 0x4F, 0x52, 0x5A, 0x9B, 0x4F, 0x14,
                                                              0xA2, 0x44, 0x6C, 0x42, 0x7C, 0x64, 0x8D, 0xF4};
constexpr unsigned char kTfxd[kUuidBytes] = {0x6D, 0x1D, 0x9B, 0x05, 0x42, 0xD5, 0x44, 0xE6,
                                             0x80, 0xE2, 0x14, 0x1D, 0xAF, 0xF7, 0x57, 0xB2};
constexpr uint32_t kPiffOverrideFlag = 0x000001;
constexpr size_t kPiffAlgorithmBytes = 3;
constexpr size_t kKidBytes = 16;

// Reads the child into a new element of `boxes` when its body is readable.
template <typename Table>
void parse_into(std::vector<Table>& boxes, const ChildAtom& c) {
    Table t;
    if (t.parse_atom_data(c.body(), c.body_len())) boxes.push_back(std::move(t));
}

size_t bytes_per_sample(uint32_t tr_flags) {
    size_t bytes = 0;
    for (uint32_t bit : {trun_flags::kSampleDurationPresent, trun_flags::kSampleSizePresent,
                         trun_flags::kSampleFlagsPresent,
                         trun_flags::kSampleCompositionTimeOffsetsPresent})
        if (tr_flags & bit) bytes += kFieldBytes;
    return bytes;
}

// Reads the run's samples, as many complete ones as the body holds up to the
// declared count; a sample cut off at the end is not kept.
void read_samples(moof_traf_info_t::trun_t& run, BeReader& r) {
    const uint32_t flags = run.tr_flags;
    const size_t n = std::min<size_t>(run.sample_count, r.remaining() / bytes_per_sample(flags));
    run.samples.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        moof_traf_info_t::trun_t::trun_sample_t s;
        if (flags & trun_flags::kSampleDurationPresent) s.duration = r.u32();
        if (flags & trun_flags::kSampleSizePresent) s.size = r.u32();
        if (flags & trun_flags::kSampleFlagsPresent) s.flags = r.u32();
        if (flags & trun_flags::kSampleCompositionTimeOffsetsPresent)
            s.composition_offset = run.version == 1 ? int64_t{r.s32()} : int64_t{r.u32()};
        run.samples.push_back(s);
    }
}

}  // namespace

bool moof_traf_info_t::trun_t::has_per_sample_fields() const {
    return (tr_flags & trun_flags::kAnyPerSampleField) != 0;
}

uint64_t moof_traf_info_t::trun_t::samples_held() const {
    if (cut_short) return 0;
    return has_per_sample_fields() ? samples.size() : sample_count;
}

void moof_traf_info_t::parse_tfhd(const unsigned char* data, size_t len) {
    if (len < kFixedBody || data[0] != 0) return;
    BeReader r(data, len);
    tf_flags = r.u32() & kFullBoxFlagsMask;
    track_ID = r.u32();

    // Optional fields in their fixed order; the first that does not fit ends
    // the read, keeping those before it.
    if (tf_flags & tfhd_flags::kBaseDataOffsetPresent) {
        if (r.remaining() < kBaseDataOffsetBytes) return;
        base_data_offset = r.u64();
    }
    const std::pair<uint32_t, uint32_t*> fields32[] = {
        {tfhd_flags::kSampleDescriptionIndexPresent, &sample_description_index},
        {tfhd_flags::kDefaultSampleDurationPresent, &default_sample_duration},
        {tfhd_flags::kDefaultSampleSizePresent, &default_sample_size},
        {tfhd_flags::kDefaultSampleFlagsPresent, &default_sample_flags},
    };
    for (const auto& [bit, field] : fields32) {
        if (!(tf_flags & bit)) continue;
        if (r.remaining() < kFieldBytes) return;
        *field = r.u32();
    }
}

void moof_traf_info_t::parse_tfdt(const unsigned char* data, size_t len) {
    if (len == 0) return;
    BeReader r(data, len);
    r.skip(4);  // version and flags
    if (data[0] == 0 && len >= kFixedBody) {
        base_media_decode_time = r.u32();
        has_tfdt = true;
    } else if (data[0] == 1 && len >= kTfdtV1Body) {
        base_media_decode_time = r.u64();
        has_tfdt = true;
    }
}

void moof_traf_info_t::parse_tfxd(const unsigned char* data, size_t len) {
    if (len == 0) return;
    BeReader r(data, len);
    r.skip(4);  // version and flags
    const uint64_t time = data[0] == 0 ? r.u32() : data[0] == 1 ? r.u64() : 0;
    if (data[0] > 1 || !r.ok()) return;  // the duration after it is not needed
    tfxd_time = time;
    has_tfxd = true;
}

void moof_traf_info_t::parse_trun(const unsigned char* data, size_t len) {
    if (len < kFixedBody || data[0] > 1) return;
    BeReader r(data, len);
    trun_t run;
    run.version = data[0];
    run.tr_flags = r.u32() & kFullBoxFlagsMask;
    run.sample_count = r.u32();

    // A run whose fixed part is cut short holds no samples; it is kept for
    // its declared count, which the merger reports as left out.
    if (run.tr_flags & trun_flags::kDataOffsetPresent) {
        run.cut_short = r.remaining() < kFieldBytes;
        run.data_offset = r.s32();
        run.has_data_offset = !run.cut_short;
    }
    if ((run.tr_flags & trun_flags::kFirstSampleFlagsPresent) && !run.cut_short) {
        run.cut_short = r.remaining() < kFieldBytes;
        run.first_sample_flags = r.u32();
        run.has_first_sample_flags = !run.cut_short;
    }
    if (run.has_per_sample_fields() && !run.cut_short) read_samples(run, r);
    truns.push_back(std::move(run));
}

void moof_traf_info_t::parse_senc(const unsigned char* data, size_t len, uint64_t at, bool piff) {
    if (senc.present || len < kFixedBody || data[0] != 0) return;  // the first one counts
    BeReader r(data, len);
    sample_encryption_t e;
    e.flags = r.u32() & kFullBoxFlagsMask;
    if (piff && (e.flags & kPiffOverrideFlag)) {
        r.skip(kPiffAlgorithmBytes);
        e.iv_size = r.u8();
        r.skip(kKidBytes);
        e.iv_size_given = true;
    }
    e.sample_count = r.u32();
    if (!r.ok()) return;
    e.entries_at = at + (len - r.remaining());
    e.entries.assign(r.here(), r.here() + r.remaining());
    e.present = true;
    senc = std::move(e);
}

void moof_info_t::parse_mfhd(const unsigned char* data, size_t len) {
    if (len < kFixedBody || data[0] != 0) return;
    BeReader r(data, len);
    r.skip(4);  // version and flags
    sequence_number = r.u32();
}

void moof_info_t::parse_traf(moof_traf_info_t& traf, const unsigned char* data, size_t len, uint64_t at) {
    walk_children(data, len, [&](const ChildAtom& child) {
        const uint64_t body_at = at + static_cast<uint64_t>(child.body() - data);
        switch (child.type) {
            case fourcc("tfhd"): traf.parse_tfhd(child.body(), child.body_len()); break;
            case fourcc("tfdt"): traf.parse_tfdt(child.body(), child.body_len()); break;
            case fourcc("trun"): traf.parse_trun(child.body(), child.body_len()); break;
            case fourcc("senc"): traf.parse_senc(child.body(), child.body_len(), body_at, false); break;
            case fourcc("uuid"): {
                if (child.body_len() < kUuidBytes) break;
                const unsigned char* rest = child.body() + kUuidBytes;
                const size_t rest_len = child.body_len() - kUuidBytes;
                if (std::equal(kPiffSampleEncryption, kPiffSampleEncryption + kUuidBytes, child.body())) {
                    traf.parse_senc(rest, rest_len, body_at + kUuidBytes, true);
                } else if (std::equal(kTfxd, kTfxd + kUuidBytes, child.body())) {
                    traf.parse_tfxd(rest, rest_len);
                }
                break;
            }
            case fourcc("saiz"): parse_into(traf.saiz, child); break;
            case fourcc("saio"): parse_into(traf.saio, child); break;
            case fourcc("sbgp"): parse_into(traf.sbgp, child); break;
            case fourcc("sgpd"): parse_into(traf.sgpd, child); break;
            case fourcc("subs"): parse_into(traf.subs, child); break;
            case fourcc("sdtp"): traf.sdtp.parse_atom_data(child.body(), child.body_len()); break;
            case fourcc("trik"): traf.trik.parse_atom_data(child.body(), child.body_len()); break;
            default: break;
        }
    });
}

void parse_moof_atom(moof_info_t& info, const unsigned char* data, size_t len) {
    walk_children(data, len, [&](const ChildAtom& child) {
        switch (child.type) {
            case fourcc("mfhd"): info.parse_mfhd(child.body(), child.body_len()); break;
            case fourcc("traf"): {
                moof_traf_info_t traf;
                info.parse_traf(traf, child.body(), child.body_len(), static_cast<uint64_t>(child.body() - data));
                info.trafs.push_back(std::move(traf));
                break;
            }
            case fourcc("pssh"): info.pssh.emplace_back(child.atom, child.atom + child.size); break;
            default: break;
        }
    });
}
