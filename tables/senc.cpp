#include "tables/senc.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 sample_count
//   | sample_count * { IV | flags & 2: u16 subsample_count
//                                      | subsample_count * {u16 clear bytes, u32 protected bytes} }

namespace {
constexpr uint32_t kSubsampleMapFlag = 0x000002;
constexpr uint32_t kMaxClearRange = std::numeric_limits<uint16_t>::max();
}  // namespace

void qt_senc_info::clear() {
    read_.clear();
    building_ = given_up_ = false;
    iv_size_ = 0;
    info_.clear();
    sizes_.clear();
    sample_sizes_.clear();
}

bool qt_senc_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    read_.assign(data, data + len);
    return true;
}

void qt_senc_info::begin(uint8_t iv_size) {
    clear();
    building_ = true;
    iv_size_ = iv_size;
}

void qt_senc_info::add_sample(const unsigned char* info, size_t n, uint32_t sample_size) {
    if (!building_ || given_up_) return;
    info_.insert(info_.end(), info, info + n);
    sizes_.push_back(static_cast<uint8_t>(n));
    sample_sizes_.push_back(sample_size);
}

void qt_senc_info::cover_samples(uint64_t n, const qt_stsz_info& stsz) {
    if (!building_ || given_up_) return;
    while (sizes_.size() < n) add_sample(nullptr, 0, stsz.size_of(sizes_.size()));
}

void qt_senc_info::keep_samples(uint64_t n) {
    BeReader r(read_.data(), read_.size());
    r.skip(4);  // version and flags
    const uint32_t count = r.u32();
    if (r.ok() && count > n) read_.clear();
}

void qt_senc_info::write_into(BeWriter& w) const {
    if (!building_) {
        if (read_.empty()) return;
        size_t start = w.begin_atom(fourcc("senc"));
        w.bytes(read_);
        w.end_atom(start);
        assert(w.size() - start == 8 + read_.size());
        return;
    }
    const bool any_info = std::any_of(sizes_.begin(), sizes_.end(), [](uint8_t n) { return n != 0; });
    if (given_up_ || !any_info) return;

    // Maps are needed when some sample has one, or is clear: an IV alone
    // means the whole sample is encrypted.
    bool maps = false;
    for (uint8_t n : sizes_) maps = maps || n > iv_size_ || (n == 0 && iv_size_ != 0);

    size_t start = w.begin_atom(fourcc("senc"));
    w.version_flags(0, maps ? kSubsampleMapFlag : 0);
    w.count32(sizes_.size());
    size_t at = 0;
    for (size_t i = 0; i < sizes_.size(); ++i) {
        const size_t n = sizes_[i];
        if (n != 0) {
            w.bytes(info_.data() + at, n);
            at += n;
            if (maps && n <= iv_size_) w.u16(0);
        } else if (iv_size_ != 0) {
            // Clear: a zero IV, and clear ranges over the whole sample.
            for (uint8_t k = 0; k < iv_size_; ++k) w.u8(0);
            uint32_t left = sample_sizes_[i];
            const uint64_t ranges = std::min<uint64_t>((uint64_t{left} + kMaxClearRange - 1) / kMaxClearRange,
                                                       kMaxClearRange);
            w.u16(static_cast<uint16_t>(ranges));
            for (uint64_t r = 0; r < ranges; ++r) {
                const uint32_t clear = std::min(left, kMaxClearRange);
                w.u16(static_cast<uint16_t>(clear));
                w.u32(0);
                left -= clear;
            }
        } else if (maps) {
            w.u16(0);
        }
    }
    w.end_atom(start);
    assert(at == info_.size());  // every sample's information written once, in order
}
