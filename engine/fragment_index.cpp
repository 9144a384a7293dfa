#include "engine/fragment_index.h"

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"
#include "atoms/saturating.h"

namespace {

constexpr size_t kMfroSize = 16;
// More entries than any real index has: a damaged count reads no further.
constexpr size_t kMaxEntries = size_t{1} << 22;

uint64_t sized(BeReader& r, bool wide) { return wide ? r.u64() : r.u32(); }

}  // namespace

uint64_t mfra_size_from_mfro(const unsigned char* last16, size_t len) {
    if (len < kMfroSize || be::read_u32(last16) != kMfroSize || be::read_u32(last16 + 4) != fourcc("mfro")) return 0;
    return be::read_u32(last16 + 12);
}

std::vector<uint64_t> moof_offsets_from_mfra(const unsigned char* mfra_payload, size_t len) {
    std::vector<uint64_t> out;
    walk_children(mfra_payload, len, [&](const ChildAtom& c) {
        if (c.type != fourcc("tfra")) return;
        BeReader r(c.body(), c.body_len());
        const bool wide = r.u8() == 1;
        r.skip(3 + 4);  // flags, track_ID
        const uint32_t sizes = r.u32();
        const uint32_t count = r.u32();
        const unsigned numbers = ((sizes >> 4) & 3) + ((sizes >> 2) & 3) + (sizes & 3) + 3;
        for (uint32_t i = 0; i < count && r.ok() && out.size() < kMaxEntries; ++i) {
            sized(r, wide);  // time
            const uint64_t offset = sized(r, wide);
            r.skip(numbers);  // traf, trun and sample numbers
            if (r.ok()) out.push_back(offset);
        }
    });
    return out;
}

std::vector<uint64_t> fragment_offsets_from_sidx(const unsigned char* sidx_payload, size_t len, uint64_t sidx_end) {
    std::vector<uint64_t> out;
    BeReader r(sidx_payload, len);
    const bool wide = r.u8() == 1;
    r.skip(3 + 4 + 4);  // flags, reference_ID, timescale
    sized(r, wide);     // earliest presentation time
    uint64_t at = saturating_add(sidx_end, sized(r, wide));
    r.skip(2);
    const uint16_t count = r.u16();
    for (uint16_t i = 0; i < count && r.ok(); ++i) {
        const uint32_t reference = r.u32();
        r.skip(8);
        if (!r.ok()) break;
        // Media references only: another sidx is no fragment.
        if ((reference >> 31) == 0) out.push_back(at);
        at = saturating_add(at, reference & 0x7FFFFFFFu);
    }
    return out;
}
