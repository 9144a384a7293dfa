#include "movie/headers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/atom_bytes.h"

namespace {

using atom_bytes::Bytes;
using atom_bytes::hex;
using atom_bytes::written;

#define MATRIX_UNITY                                         \
    "00010000 00000000 00000000"  /* matrix a b u */         \
    "00000000 00010000 00000000"  /* matrix c d v */         \
    "00000000 00000000 40000000"  /* matrix x y w */

const Bytes kMvhdV0 = hex(
    "0000006C 6D766864"  // size 108, 'mvhd'
    "00 000000"          // version 0, flags 0
    "D5A1B2C3"           // creation_time
    "D5A1B2C4"           // modification_time
    "000003E8"           // timescale 1000
    "0001E240"           // duration 123456
    "00010000"           // rate 1.0
    "0100"               // volume 1.0
    "0000 00000000 00000000"  // reserved
    MATRIX_UNITY
    "00000000 00000000 00000000 00000000 00000000 00000000"  // pre_defined
    "00000003");         // next_track_ID 3

const Bytes kMvhdV1 = hex(
    "00000078 6D766864"  // size 120, 'mvhd'
    "01 000000"          // version 1, flags 0
    "00000001 D5A1B2C3"  // creation_time
    "00000001 D5A1B2C4"  // modification_time
    "0000AC44"           // timescale 44100
    "00000001 23456789"  // duration 0x123456789
    "00010000"           // rate 1.0
    "0100"               // volume 1.0
    "0000 00000000 00000000"  // reserved
    MATRIX_UNITY
    "00000000 00000000 00000000 00000000 00000000 00000000"  // pre_defined
    "00000002");         // next_track_ID 2

const Bytes kTkhdV0 = hex(
    "0000005C 746B6864"  // size 92, 'tkhd'
    "00 000007"          // version 0, flags enabled|in_movie|in_preview
    "D5A1B2C3"           // creation_time
    "D5A1B2C4"           // modification_time
    "00000002"           // track_ID 2
    "00000000"           // reserved
    "00002710"           // duration 10000
    "00000000 00000000"  // reserved
    "0000"               // layer
    "0001"               // alternate_group 1
    "0100"               // volume 1.0
    "0000"               // reserved
    MATRIX_UNITY
    "01400000"           // width 320.0
    "00F00000");         // height 240.0

const Bytes kTkhdV1 = hex(
    "00000068 746B6864"  // size 104, 'tkhd'
    "01 000003"          // version 1, flags enabled|in_movie
    "00000000 D5A1B2C3"  // creation_time
    "00000000 D5A1B2C4"  // modification_time
    "00000001"           // track_ID 1
    "00000000"           // reserved
    "00000002 00000000"  // duration 0x200000000
    "00000000 00000000"  // reserved
    "0000"               // layer
    "0000"               // alternate_group
    "0000"               // volume (video)
    "0000"               // reserved
    MATRIX_UNITY
    "05000000"           // width 1280.0
    "02D00000");         // height 720.0

const Bytes kMdhdV0 = hex(
    "00000020 6D646864"  // size 32, 'mdhd'
    "00 000000"          // version 0, flags 0
    "D5A1B2C3"           // creation_time
    "D5A1B2C4"           // modification_time
    "00015F90"           // timescale 90000
    "000DBBA0"           // duration 900000
    "55C4"               // language 'und'
    "0000");             // pre_defined

const Bytes kMdhdV1 = hex(
    "0000002C 6D646864"  // size 44, 'mdhd'
    "01 000000"          // version 1, flags 0
    "00000000 D5A1B2C3"  // creation_time
    "00000000 D5A1B2C4"  // modification_time
    "0000BB80"           // timescale 48000
    "00000001 00000000"  // duration 2^32
    "15C7"               // language 'eng'
    "0000");             // pre_defined

template <typename Record>
Record parsed(const Bytes& atom) {
    Record r;
    r.parse_atom_data(atom.data() + 8, atom.size() - 8);
    return r;
}

class HeadersTest : public ::testing::Test {};

TEST_F(HeadersTest, MvhdGoldenParsesAndWritesBack) {
    struct Row { const Bytes& atom; uint8_t version; uint32_t timescale; uint64_t duration; };
    for (const Row& row : {Row{kMvhdV0, 0, 1000, 123456}, Row{kMvhdV1, 1, 44100, 0x123456789}}) {
        auto h = parsed<quicktime_mvhd_header_u>(row.atom);
        EXPECT_TRUE(h.present());
        EXPECT_EQ(h.version(), row.version);
        EXPECT_EQ(h.timescale(), row.timescale);
        EXPECT_EQ(h.duration(), row.duration);
        EXPECT_EQ(written(h), row.atom);
    }
}

TEST_F(HeadersTest, TkhdGoldenParsesAndWritesBack) {
    struct Row { const Bytes& atom; uint8_t version; uint32_t track_id; uint64_t duration; };
    for (const Row& row : {Row{kTkhdV0, 0, 2, 10000}, Row{kTkhdV1, 1, 1, 0x200000000}}) {
        auto h = parsed<quicktime_tkhd_header_u>(row.atom);
        EXPECT_TRUE(h.present());
        EXPECT_EQ(h.version(), row.version);
        EXPECT_EQ(h.track_id(), row.track_id);
        EXPECT_EQ(h.duration(), row.duration);
        EXPECT_EQ(written(h), row.atom);
    }
}

TEST_F(HeadersTest, MdhdGoldenParsesAndWritesBack) {
    struct Row { const Bytes& atom; uint8_t version; uint32_t timescale; uint64_t duration; };
    for (const Row& row : {Row{kMdhdV0, 0, 90000, 900000}, Row{kMdhdV1, 1, 48000, 0x100000000}}) {
        auto h = parsed<quicktime_mdhd_header_u>(row.atom);
        EXPECT_TRUE(h.present());
        EXPECT_EQ(h.version(), row.version);
        EXPECT_EQ(h.timescale(), row.timescale);
        EXPECT_EQ(h.duration(), row.duration);
        EXPECT_EQ(written(h), row.atom);
    }
}

TEST_F(HeadersTest, BytesBeyondTheVersionSizeAreDropped) {
    Bytes body(kMdhdV0.begin() + 8, kMdhdV0.end());
    body.insert(body.end(), {0xAA, 0xBB, 0xCC, 0xDD});
    quicktime_mdhd_header_u h;
    h.parse_atom_data(body.data(), body.size());
    EXPECT_EQ(written(h), kMdhdV0);
}

// Promotion goldens: the v0 goldens above given a duration of 0xF0000000.
const Bytes kMvhdPromoted = hex(
    "00000078 6D766864"  // size 120, 'mvhd'
    "01 000000"          // version 1, flags kept
    "00000000 D5A1B2C3"  // creation_time widened
    "00000000 D5A1B2C4"  // modification_time widened
    "000003E8"           // timescale 1000
    "00000000 F0000000"  // duration
    "00010000"           // rate
    "0100"               // volume
    "0000 00000000 00000000"  // reserved
    MATRIX_UNITY
    "00000000 00000000 00000000 00000000 00000000 00000000"  // pre_defined
    "00000003");         // next_track_ID

const Bytes kTkhdPromoted = hex(
    "00000068 746B6864"  // size 104, 'tkhd'
    "01 000007"          // version 1, flags kept
    "00000000 D5A1B2C3"  // creation_time widened
    "00000000 D5A1B2C4"  // modification_time widened
    "00000002"           // track_ID 2
    "00000000"           // reserved
    "00000000 F0000000"  // duration
    "00000000 00000000"  // reserved
    "0000"               // layer
    "0001"               // alternate_group
    "0100"               // volume
    "0000"               // reserved
    MATRIX_UNITY
    "01400000"           // width
    "00F00000");         // height

const Bytes kMdhdPromoted = hex(
    "0000002C 6D646864"  // size 44, 'mdhd'
    "01 000000"          // version 1, flags kept
    "00000000 D5A1B2C3"  // creation_time widened
    "00000000 D5A1B2C4"  // modification_time widened
    "00015F90"           // timescale 90000
    "00000000 F0000000"  // duration
    "55C4"               // language
    "0000");             // pre_defined

TEST_F(HeadersTest, PromotionRebuildsEachKindFieldByField) {
    auto mvhd = parsed<quicktime_mvhd_header_u>(kMvhdV0);
    mvhd.set_duration(0xF0000000);
    EXPECT_EQ(written(mvhd), kMvhdPromoted);
    EXPECT_EQ(mvhd.timescale(), 1000u);

    auto tkhd = parsed<quicktime_tkhd_header_u>(kTkhdV0);
    tkhd.set_duration(0xF0000000);
    EXPECT_EQ(written(tkhd), kTkhdPromoted);
    EXPECT_EQ(tkhd.track_id(), 2u);

    auto mdhd = parsed<quicktime_mdhd_header_u>(kMdhdV0);
    mdhd.set_duration(0xF0000000);
    EXPECT_EQ(written(mdhd), kMdhdPromoted);
    EXPECT_EQ(mdhd.timescale(), 90000u);
    EXPECT_EQ(mdhd.duration(), 0xF0000000u);
}

TEST_F(HeadersTest, PromotionThresholdIsBelowTheTopOf32Bits) {
    auto at_limit = parsed<quicktime_mdhd_header_u>(kMdhdV0);
    at_limit.set_duration(0xEFFFFFFF);
    Bytes expected = kMdhdV0;
    const Bytes duration = hex("EFFFFFFF");
    std::copy(duration.begin(), duration.end(), expected.begin() + 8 + 16);
    EXPECT_EQ(at_limit.version(), 0);
    EXPECT_EQ(written(at_limit), expected);

    auto above = parsed<quicktime_mdhd_header_u>(kMdhdV0);
    above.set_duration(0xF0000000);
    EXPECT_EQ(above.version(), 1);
    EXPECT_EQ(written(above), kMdhdPromoted);
}

TEST_F(HeadersTest, Version1StaysVersion1ForSmallDurations) {
    auto h = parsed<quicktime_tkhd_header_u>(kTkhdV1);
    h.set_duration(5);
    Bytes expected = kTkhdV1;
    const Bytes duration = hex("00000000 00000005");
    std::copy(duration.begin(), duration.end(), expected.begin() + 8 + 28);
    EXPECT_EQ(written(h), expected);
}

TEST_F(HeadersTest, ForceFlagPromotesOnlyItsOwnKind) {
    struct Row { bool mvhd_v1, tkhd_v1, mdhd_v1; };
    for (const Row& row : {Row{true, false, false}, Row{false, true, false}, Row{false, false, true}}) {
        auto mvhd = parsed<quicktime_mvhd_header_u>(kMvhdV0);
        auto tkhd = parsed<quicktime_tkhd_header_u>(kTkhdV0);
        auto mdhd = parsed<quicktime_mdhd_header_u>(kMdhdV0);
        mvhd.set_duration(7, row.mvhd_v1);
        tkhd.set_duration(7, row.tkhd_v1);
        mdhd.set_duration(7, row.mdhd_v1);
        EXPECT_EQ(written(mvhd).size(), row.mvhd_v1 ? 120u : 108u);
        EXPECT_EQ(written(tkhd).size(), row.tkhd_v1 ? 104u : 92u);
        EXPECT_EQ(written(mdhd).size(), row.mdhd_v1 ? 44u : 32u);
        EXPECT_EQ(mvhd.duration(), 7u);
        EXPECT_EQ(tkhd.duration(), 7u);
        EXPECT_EQ(mdhd.duration(), 7u);
    }
}

TEST_F(HeadersTest, RejectedBodiesLeaveTheRecordAbsent) {
    Bytes mvhd99(kMvhdV0.begin() + 8, kMvhdV0.end() - 1);
    Bytes tkhd_v2(kTkhdV1.begin() + 8, kTkhdV1.end());
    tkhd_v2[0] = 2;
    Bytes mdhd_v1_short(kMdhdV1.begin() + 8, kMdhdV1.end() - 1);

    quicktime_mvhd_header_u mvhd;
    mvhd.parse_atom_data(mvhd99.data(), mvhd99.size());
    quicktime_tkhd_header_u tkhd;
    tkhd.parse_atom_data(tkhd_v2.data(), tkhd_v2.size());
    quicktime_mdhd_header_u mdhd;
    mdhd.parse_atom_data(mdhd_v1_short.data(), mdhd_v1_short.size());
    quicktime_mdhd_header_u empty;
    empty.parse_atom_data(kMdhdV0.data() + 8, 0);

    EXPECT_FALSE(mvhd.present());
    EXPECT_EQ(mvhd.timescale(), 0u);
    EXPECT_TRUE(written(mvhd).empty());
    EXPECT_FALSE(tkhd.present());
    EXPECT_EQ(tkhd.track_id(), 0u);
    EXPECT_TRUE(written(tkhd).empty());
    EXPECT_FALSE(mdhd.present());
    EXPECT_FALSE(empty.present());
    EXPECT_EQ(empty.version(), 255);

    // A duration never creates a header.
    mdhd.set_duration(0xF0000000);
    EXPECT_FALSE(mdhd.present());
    EXPECT_EQ(mdhd.duration(), 0u);
    EXPECT_TRUE(written(mdhd).empty());
}

TEST_F(HeadersTest, RejectedBodyKeepsWhatWasTakenBefore) {
    auto h = parsed<quicktime_tkhd_header_u>(kTkhdV0);
    Bytes tkhd_v2(kTkhdV1.begin() + 8, kTkhdV1.end());
    tkhd_v2[0] = 2;
    h.parse_atom_data(tkhd_v2.data(), tkhd_v2.size());
    EXPECT_EQ(written(h), kTkhdV0);
    h.clear();
    EXPECT_FALSE(h.present());
}

}  // namespace
