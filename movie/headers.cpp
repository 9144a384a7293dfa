#include "movie/headers.h"

#include <cassert>
#include <cstring>
#include <vector>

namespace {
// Larger durations go to the 64-bit form. The top of the 32-bit range is kept
// clear because readers take an all-ones duration to mean "unknown".
constexpr uint64_t kMaxV0Duration = 0xEFFFFFFF;
}  // namespace

template <typename Layout>
void HeaderRecord<Layout>::parse_atom_data(const unsigned char* data, size_t len) {
    if (len == 0) return;
    size_t take = 0;
    if (data[0] == 0 && len >= kV0Size) take = kV0Size;
    if (data[0] == 1 && len >= kV1Size) take = kV1Size;
    if (take != 0) std::memcpy(body_, data, take);
}

template <typename Layout>
uint64_t HeaderRecord<Layout>::duration() const {
    switch (version()) {
        case 0: return be::read_u32(body_ + kDurationV0);
        case 1: return be::read_u64(body_ + kDurationV1);
        default: return 0;
    }
}

template <typename Layout>
uint32_t HeaderRecord<Layout>::key_field() const {
    switch (version()) {
        case 0: return be::read_u32(body_ + kKeyFieldV0);
        case 1: return be::read_u32(body_ + kKeyFieldV1);
        default: return 0;
    }
}

template <typename Layout>
void HeaderRecord<Layout>::set_key_field(uint32_t value) {
    switch (version()) {
        case 0: be::put_u32(body_ + kKeyFieldV0, value); break;
        case 1: be::put_u32(body_ + kKeyFieldV1, value); break;
        default: break;
    }
}

template <typename Layout>
void HeaderRecord<Layout>::set_duration(uint64_t d, bool force_v1) {
    if (version() == 0 && (d > kMaxV0Duration || force_v1)) promote_to_v1();
    switch (version()) {
        case 0: be::put_u32(body_ + kDurationV0, static_cast<uint32_t>(d)); break;
        case 1: be::put_u64(body_ + kDurationV1, d); break;
        default: break;
    }
}

// Rebuilds the body in the version 1 layout: the two times and the duration
// are widened keeping their values, every other field moves unchanged.
template <typename Layout>
void HeaderRecord<Layout>::promote_to_v1() {
    assert(version() == 0);
    std::vector<unsigned char> out;
    out.reserve(kV1Size);
    BeWriter w(out);
    BeReader r(body_, kV0Size);

    r.skip(1);
    w.u8(1);                                              // version
    w.bytes(r.bytes(3), 3);                               // flags
    w.u64(r.u32());                                       // creation_time
    w.u64(r.u32());                                       // modification_time
    constexpr size_t kBeforeDuration = kDurationV0 - kTimesEndV0;
    w.bytes(r.bytes(kBeforeDuration), kBeforeDuration);   // key field (+ tkhd reserved)
    w.u64(r.u32());                                       // duration
    constexpr size_t kTail = kV0Size - kDurationV0 - 4;
    w.bytes(r.bytes(kTail), kTail);                       // everything after duration

    assert(r.ok() && r.remaining() == 0 && out.size() == kV1Size);
    std::memcpy(body_, out.data(), kV1Size);
}

template <typename Layout>
void HeaderRecord<Layout>::write_into(BeWriter& w) const {
    if (!present()) return;
    size_t start = w.begin_atom(Layout::type);
    w.bytes(body_, body_size());
    w.end_atom(start);
    assert(w.size() - start == 8 + body_size());
}

template class HeaderRecord<MvhdLayout>;
template class HeaderRecord<TkhdLayout>;
template class HeaderRecord<MdhdLayout>;
