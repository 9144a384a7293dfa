#include "tables/stss.h"

#include <gtest/gtest.h>

#include "tests/tables/table_bytes.h"

using Numbers = std::vector<uint32_t>;

namespace {

const Bytes kStss = {
    0x00, 0x00, 0x00, 0x1C,  // size 28
    's', 't', 's', 's',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x03,  // entry count 3
    0x00, 0x00, 0x00, 0x01,  // sample 1
    0x00, 0x00, 0x00, 0x1F,  // sample 31
    0x00, 0x00, 0x00, 0x3D,  // sample 61
};

// Present with no entries: no sample is sync.
const Bytes kEmptyStss = {
    0x00, 0x00, 0x00, 0x10,  // size 16
    's', 't', 's', 's',      // type
    0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
    0x00, 0x00, 0x00, 0x00,  // entry count 0
};

// Sample flags as fragments carry them.
constexpr uint32_t kSync = 0x02000000;     // depends on no other sample
constexpr uint32_t kNonSync = 0x01010000;  // depends on others, non-sync bit

TEST(Stss, GoldenParsesAndWritesBackByteForByte) {
    auto stss = parsed<qt_stss_info>(body_of(kStss));
    EXPECT_TRUE(stss.present);
    EXPECT_EQ(stss.tbl, (Numbers{1, 31, 61}));
    EXPECT_EQ(written(stss), kStss);

    auto none = parsed<qt_stss_info>(body_of(kEmptyStss));
    EXPECT_TRUE(none.present);
    EXPECT_TRUE(none.tbl.empty());
    EXPECT_EQ(written(none), kEmptyStss);
}

TEST(Stss, DamagedBodies) {
    struct Row {
        const char* name;
        Bytes body;
        bool present;
        Numbers expected;
    };
    Bytes golden = body_of(kStss);
    Bytes version1 = golden;
    version1[0] = 1;
    // 8 + 18 bytes: room for four whole entries and two spare bytes.
    auto room_for_four = [](uint32_t count) {
        Bytes b = body_of(0, {count, 1, 2, 3, 4});
        b.push_back(0);
        b.push_back(5);
        return b;
    };
    const Row rows[] = {
        {"count 3 of room for 4", room_for_four(3), true, {1, 2, 3}},
        {"count 9 of room for 4", room_for_four(9), true, {1, 2, 3, 4}},
        {"cut inside the count", Bytes(golden.begin(), golden.begin() + 7), false, {}},
        {"version 1", version1, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stss = parsed<qt_stss_info>(row.body);
        EXPECT_EQ(stss.present, row.present);
        EXPECT_EQ(stss.tbl, row.expected);
        if (!row.present) {
            EXPECT_TRUE(written(stss).empty());
        }
    }
}

TEST(Stss, AppendedSamples) {
    struct Sample {
        uint32_t flags;
        uint64_t number;
    };
    struct Row {
        const char* name;
        Bytes body;  // empty: the movie atom had no stss
        std::vector<Sample> samples;
        bool present;
        Numbers expected;
    };
    const Row rows[] = {
        {"all sync, table absent: stays absent", {},
         {{kSync, 1}, {kSync, 2}, {0, 3}}, false, {}},
        {"first non-sync lists the earlier samples", {},
         {{kSync, 1}, {kSync, 2}, {kNonSync, 3}, {kSync, 4}, {kNonSync, 5}}, true, {1, 2, 4}},
        {"samples from the movie atom are listed too", {},
         {{kNonSync, 4}, {kSync, 5}}, true, {1, 2, 3, 5}},
        {"non-sync first sample gives an empty table", {}, {{kNonSync, 1}}, true, {}},
        {"continues the table read", body_of(kStss),
         {{kSync, 61 + 30}, {kNonSync, 92}}, true, {1, 31, 61, 91}},
        {"depends-on alone makes non-sync", {}, {{0x01000000, 2}}, true, {1}},
        {"non-sync bit alone makes non-sync", {}, {{0x02010000, 3}}, true, {1, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stss = parsed<qt_stss_info>(row.body);
        for (const Sample& s : row.samples) stss.addSyncSample(s.flags, s.number);
        EXPECT_EQ(stss.present, row.present);
        EXPECT_EQ(stss.tbl, row.expected);
    }
}

TEST(Stss, MaterialisedEmptyTableIsWritten) {
    qt_stss_info stss;
    EXPECT_TRUE(written(stss).empty());
    stss.addSyncSample(kNonSync, 1);
    EXPECT_EQ(written(stss), kEmptyStss);
}

}  // namespace
