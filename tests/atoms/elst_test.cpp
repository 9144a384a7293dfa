#include "movie/elst.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>

#include "movie/edts.h"
#include "tests/atoms/edit_list_matchers.h"
#include "tests/tables/table_bytes.h"

namespace {

// As an HLS init segment carries it: an empty edit, then the media from the
// first presented frame on.
const Bytes kElstV0 = {
    0x00, 0x00, 0x00, 0x28,  // size 40
    'e', 'l', 's', 't',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x02,  // entry count 2
    0x00, 0x00, 0x00, 0x42,  // edit 1 segment_duration 66
    0xFF, 0xFF, 0xFF, 0xFF,  //        media_time -1 (empty)
    0x00, 0x01, 0x00, 0x00,  //        rate 1.0
    0x00, 0x00, 0x05, 0xDC,  // edit 2 segment_duration 1500
    0x00, 0x00, 0x04, 0x00,  //        media_time 1024
    0x00, 0x01, 0x00, 0x00,  //        rate 1.0
};

// Each media edit holds a value that only version 1 can store.
const Bytes kElstV1 = {
    0x00, 0x00, 0x00, 0x4C,                          // size 76
    'e', 'l', 's', 't',                              // type
    0x01,                                            // version 1
    0x00, 0x00, 0x00,                                // flags
    0x00, 0x00, 0x00, 0x03,                          // entry count 3
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // edit 1 segment_duration 2^32
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  //        media_time -1 (empty)
    0x00, 0x01, 0x00, 0x00,                          //        rate 1.0
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x07,  // edit 2 segment_duration 7
    0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,  //        media_time 2^31
    0x00, 0x02, 0x40, 0x00,                          //        rate 2.25
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x05,  // edit 3 segment_duration 2^32 + 5
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //        media_time 0
    0x00, 0x00, 0x00, 0x00,                          //        rate 0 (dwell)
};

// Version 1 although every value fits version 0 ...
const Bytes kElstV1Small = {
    0x00, 0x00, 0x00, 0x24,                          // size 36
    'e', 'l', 's', 't',                              // type
    0x01,                                            // version 1
    0x00, 0x00, 0x00,                                // flags
    0x00, 0x00, 0x00, 0x01,                          // entry count 1
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0xE8,  // segment_duration 1000
    0xFF, 0xFF, 0xFF, 0xFF, 0x80, 0x00, 0x00, 0x00,  // media_time -2^31
    0x00, 0x01, 0x00, 0x00,                          // rate 1.0
};
// ... is written back as version 0.
const Bytes kElstV1SmallAsV0 = {
    0x00, 0x00, 0x00, 0x1C,  // size 28
    'e', 'l', 's', 't',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x01,  // entry count 1
    0x00, 0x00, 0x03, 0xE8,  // segment_duration 1000
    0x80, 0x00, 0x00, 0x00,  // media_time -2^31
    0x00, 0x01, 0x00, 0x00,  // rate 1.0
};

TEST(Elst, GoldenVersion0ParsesAndWritesBackByteForByte) {
    auto elst = parsed<qt_elst_info>(body_of(kElstV0));
    EXPECT_TRUE(elst.present);
    EXPECT_EQ(elst.entries, (Edits{{66, -1, 1, 0}, {1500, 1024, 1, 0}}));
    EXPECT_EQ(elst.total_duration(), 1566u);
    EXPECT_EQ(written(elst), kElstV0);
}

TEST(Elst, GoldenVersion1ParsesAndWritesBackByteForByte) {
    auto elst = parsed<qt_elst_info>(body_of(kElstV1));
    EXPECT_TRUE(elst.present);
    EXPECT_EQ(elst.entries, (Edits{{0x100000000u, -1, 1, 0}, {7, 0x80000000, 2, 0x4000}, {0x100000005u, 0, 0, 0}}));
    EXPECT_EQ(written(elst), kElstV1);
}

TEST(Elst, Version1WhoseValuesFitIsWrittenAsVersion0) {
    auto elst = parsed<qt_elst_info>(body_of(kElstV1Small));
    EXPECT_EQ(elst.entries, (Edits{{1000, std::numeric_limits<int32_t>::min(), 1, 0}}));
    EXPECT_EQ(written(elst), kElstV1SmallAsV0);
}

TEST(Elst, VersionIsChosenByTheValuesOnBothSidesOfEachLimit) {
    constexpr int64_t kMin32 = std::numeric_limits<int32_t>::min();
    constexpr int64_t kMax32 = std::numeric_limits<int32_t>::max();
    struct Case {
        const char* name;
        qt_edit_list_entry_t edit;
        uint8_t version;
    };
    const Case cases[] = {
        {"largest 32-bit duration", {0xFFFFFFFFu, 0, 1, 0}, 0},
        {"duration past 32 bits", {0x100000000u, 0, 1, 0}, 1},
        {"largest 32-bit media time", {1, kMax32, 1, 0}, 0},
        {"media time past int32", {1, kMax32 + 1, 1, 0}, 1},
        {"smallest 32-bit media time", {1, kMin32, 1, 0}, 0},
        {"media time below int32", {1, kMin32 - 1, 1, 0}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        qt_elst_info elst;
        elst.present = true;
        elst.entries = {{5, -1, 1, 0}, c.edit};
        const Bytes out = written(elst);
        ASSERT_GE(out.size(), 9u);
        EXPECT_EQ(out[8], c.version);
        EXPECT_EQ(out.size(), 16u + (c.version == 1 ? 20u : 12u) * 2);
        // What is written reads back as it was.
        EXPECT_EQ(parsed<qt_elst_info>(body_of(out)).entries, elst.entries);
    }
}

TEST(Elst, DamagedBodiesAreReadForgivingly) {
    auto with = [](Bytes b, size_t at, unsigned char v) {
        b[at] = v;
        return b;
    };
    const Bytes body = body_of(kElstV0);
    struct Case {
        const char* name;
        Bytes body;
        bool present;
        Edits entries;
    };
    const Case cases[] = {
        {"cut one byte short: the second edit is lost", Bytes(body.begin(), body.end() - 1), true, {{66, -1, 1, 0}}},
        {"count one too many: clamped", with(body, 7, 3), true, {{66, -1, 1, 0}, {1500, 1024, 1, 0}}},
        {"count 0", with(body, 7, 0), true, {}},
        {"version 2: absent", with(body, 0, 2), false, {}},
        {"no room for the count: absent", Bytes(body.begin(), body.begin() + 7), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto elst = parsed<qt_elst_info>(c.body);
        EXPECT_EQ(elst.present, c.present);
        EXPECT_EQ(elst.entries, c.entries);
        if (!c.present) {
            EXPECT_TRUE(written(elst).empty());
        }
    }
}

// An edts holding an unknown child before its elst: the elst is modelled,
// the other child kept byte for byte, and the elst written first.
const Bytes kEdtsWithOther = {
    0x00, 0x00, 0x00, 0x30,  // size 48
    'e', 'd', 't', 's',      // type
    0x00, 0x00, 0x00, 0x0C,  // child size 12
    'f', 'r', 'e', 'e',      //       type
    0xDE, 0xAD, 0xBE, 0xEF,  //       payload
    0x00, 0x00, 0x00, 0x1C,  // elst size 28
    'e', 'l', 's', 't',      //       type
    0x00, 0x00, 0x00, 0x00,  //       version 0, flags 0
    0x00, 0x00, 0x00, 0x01,  //       entry count 1
    0x00, 0x00, 0x05, 0xDC,  //       segment_duration 1500
    0x00, 0x00, 0x04, 0x00,  //       media_time 1024
    0x00, 0x01, 0x00, 0x00,  //       rate 1.0
};

TEST(Edts, ElstIsModelledAndOtherChildrenKeptRawInTheirPlace) {
    auto edts = parsed<qt_edts_info>(body_of(kEdtsWithOther));
    EXPECT_TRUE(edts.present);
    EXPECT_TRUE(edts.has_edits());
    EXPECT_EQ(edts.elst.entries, (Edits{{1500, 1024, 1, 0}}));
    EXPECT_EQ(edts.other_atoms.count(), 1u);
    EXPECT_EQ(written(edts), kEdtsWithOther);
}

TEST(Edts, AbsentBoxWritesNothingAndAnEmptyOneStays) {
    qt_edts_info none;
    EXPECT_TRUE(written(none).empty());
    auto empty = parsed<qt_edts_info>(Bytes{});
    EXPECT_TRUE(empty.present);
    EXPECT_FALSE(empty.has_edits());
    EXPECT_EQ(written(empty), (Bytes{0x00, 0x00, 0x00, 0x08, 'e', 'd', 't', 's'}));
}

}  // namespace
