// The movie header (mvhd, in moov), the track header (tkhd, in trak) and the
// media header (mdhd, in mdia). Each record keeps its atom's body exactly as
// read, version byte first, and decodes or patches single fields in place;
// everything it does not read is carried unchanged. Only versions 0 and 1 are
// taken: a body of another version, or too short for its version, leaves the
// record absent (version byte 255) and the atom is then not written back.
// Bytes beyond the version's size are dropped.
//
// The three kinds share one layout shape, which is what HeaderRecord relies
// on (offsets in the body; v1 = v0 + 12 bytes):
//   version 0:  u8 version | u24 flags | u32 creation | u32 modification |
//               key field ... | u32 duration | tail ...
//   version 1:  u8 version | u24 flags | u64 creation | u64 modification |
//               key field ... | u64 duration | tail ...
// The key field is timescale (mvhd, mdhd) or track_ID (tkhd); tkhd has a
// reserved word between track_ID and duration, moved along unchanged.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "atoms/be.h"
#include "atoms/fourcc.h"

struct MvhdLayout {
    static constexpr uint32_t type = fourcc("mvhd");
    static constexpr size_t v0_size = 100;
    static constexpr size_t duration_v0 = 16;
    static constexpr bool has_timescale = true;  // else the key field is track_ID
};

struct TkhdLayout {
    static constexpr uint32_t type = fourcc("tkhd");
    static constexpr size_t v0_size = 84;
    static constexpr size_t duration_v0 = 20;
    static constexpr bool has_timescale = false;
};

struct MdhdLayout {
    static constexpr uint32_t type = fourcc("mdhd");
    static constexpr size_t v0_size = 24;
    static constexpr size_t duration_v0 = 16;
    static constexpr bool has_timescale = true;
};

template <typename Layout>
class HeaderRecord {
public:
    // Offsets shared by the three kinds.
    static constexpr size_t kTimesEndV0 = 12;  // after version, flags and the two times
    static constexpr size_t kTimesEndV1 = 20;
    static constexpr size_t kKeyFieldV0 = kTimesEndV0;
    static constexpr size_t kKeyFieldV1 = kTimesEndV1;
    static constexpr size_t kV0Size = Layout::v0_size;
    static constexpr size_t kV1Size = Layout::v0_size + 12;
    static constexpr size_t kDurationV0 = Layout::duration_v0;
    static constexpr size_t kDurationV1 = Layout::duration_v0 + 8;
    static constexpr uint8_t kAbsent = 255;
    static_assert(kDurationV0 >= kTimesEndV0 + 4 && kDurationV0 + 4 <= kV0Size,
                  "duration lies between the key field and the tail");

    void clear() { body_[0] = kAbsent; }
    void parse_atom_data(const unsigned char* data, size_t len);

    bool present() const { return version() == 0 || version() == 1; }
    uint8_t version() const { return body_[0]; }
    uint64_t duration() const;
    // Stores d, first promoting a version 0 record to version 1 when d does
    // not fit the 32-bit field or the kind's debug switch asks for it.
    // An absent record stays absent.
    void set_duration(uint64_t d, bool force_v1 = false);

    // The timescale of mvhd and mdhd; 0 when absent.
    template <typename L = Layout, typename = std::enable_if_t<L::has_timescale>>
    uint32_t timescale() const {
        return key_field();
    }
    // Sets the timescale of mvhd or mdhd; an absent record stays absent.
    template <typename L = Layout, typename = std::enable_if_t<L::has_timescale>>
    void set_timescale(uint32_t timescale) {
        set_key_field(timescale);
    }
    // The track_ID of tkhd; 0 when absent.
    template <typename L = Layout, typename = std::enable_if_t<!L::has_timescale>>
    uint32_t track_id() const {
        return key_field();
    }

    // The whole atom, header first, or nothing when absent.
    void write_into(BeWriter& w) const;

private:
    size_t body_size() const { return version() == 1 ? kV1Size : kV0Size; }
    uint32_t key_field() const;
    void set_key_field(uint32_t value);
    void promote_to_v1();

    unsigned char body_[kV1Size] = {kAbsent};
};

using quicktime_mvhd_header_u = HeaderRecord<MvhdLayout>;
using quicktime_tkhd_header_u = HeaderRecord<TkhdLayout>;
using quicktime_mdhd_header_u = HeaderRecord<MdhdLayout>;

extern template class HeaderRecord<MvhdLayout>;
extern template class HeaderRecord<TkhdLayout>;
extern template class HeaderRecord<MdhdLayout>;
