#include "tables/sdtp.h"

#include <gtest/gtest.h>

#include "tests/tables/table_bytes.h"

namespace {

const Bytes kSdtp = {
    0x00, 0x00, 0x00, 0x11,  // size 17
    's', 'd', 't', 'p',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x20,                    // sample 1: depends on none
    0x10,                    // sample 2: depends on others
    0x18,                    // sample 3: depends on others, not depended on
    0x04,                    // sample 4: depended on
    0x00,                    // sample 5: all unknown
};

TEST(Sdtp, GoldenParsesAndWritesBackByteForByte) {
    auto sdtp = parsed<qt_sdtp_info>(body_of(kSdtp));
    EXPECT_TRUE(sdtp.present);
    EXPECT_EQ(sdtp.tbl, (Bytes{0x20, 0x10, 0x18, 0x04, 0x00}));
    EXPECT_EQ(written(sdtp), kSdtp);
}

TEST(Sdtp, DamagedBodies) {
    struct Row {
        const char* name;
        Bytes body;
        bool present;
    };
    Bytes golden = body_of(kSdtp);
    Bytes version1 = golden;
    version1[0] = 1;
    const Row rows[] = {
        {"version and flags only", Bytes(golden.begin(), golden.begin() + 4), true},
        {"cut inside the flags", Bytes(golden.begin(), golden.begin() + 3), false},
        {"version 1", version1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto sdtp = parsed<qt_sdtp_info>(row.body);
        EXPECT_EQ(sdtp.present, row.present);
        EXPECT_TRUE(sdtp.tbl.empty());
        EXPECT_TRUE(written(sdtp).empty());
    }
}

TEST(Sdtp, AppendedSamplesKeepOneBytePerSample) {
    // is_leading 1, depends on none, depended on, has redundancy 2; the
    // padding, non-sync and priority bits must not leak into the byte.
    constexpr uint32_t kFlags = 0x066FFFFF;
    struct Row {
        const char* name;
        Bytes body;
        uint64_t index;
        Bytes expected;
    };
    const Row rows[] = {
        {"absent table stays absent", {}, 0, {}},
        {"next sample", body_of(kSdtp), 5, {0x20, 0x10, 0x18, 0x04, 0x00, 0x66}},
        {"missing samples padded with 0", body_of(kSdtp), 7,
         {0x20, 0x10, 0x18, 0x04, 0x00, 0x00, 0x00, 0x66}},
        {"extra bytes cut", body_of(kSdtp), 2, {0x20, 0x10, 0x66}},
        {"empty table read", Bytes{0, 0, 0, 0}, 2, {0x00, 0x00, 0x66}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto sdtp = parsed<qt_sdtp_info>(row.body);
        sdtp.add_sample(kFlags, row.index);
        EXPECT_EQ(sdtp.tbl, row.expected);
    }
}

}  // namespace
