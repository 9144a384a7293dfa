#include "tables/stsz.h"

#include <gtest/gtest.h>

#include "tests/tables/table_bytes.h"

using Sizes = std::vector<uint32_t>;

namespace {

const Bytes kPerSample = {
    0x00, 0x00, 0x00, 0x20,  // size 32
    's', 't', 's', 'z',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x00,  // sample size 0: one entry per sample
    0x00, 0x00, 0x00, 0x03,  // sample count 3
    0x00, 0x00, 0x01, 0xF4,  // 500
    0x12, 0x34, 0x56, 0x78,  // 0x12345678
    0x00, 0x00, 0x00, 0x00,  // 0
};

const Bytes kConstant = {
    0x00, 0x00, 0x00, 0x14,  // size 20
    's', 't', 's', 'z',      // type
    0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
    0x00, 0x00, 0x04, 0x00,  // sample size 1024
    0x00, 0x00, 0x00, 0x0A,  // sample count 10
};

TEST(Stsz, GoldenFormsParseAndWriteBackByteForByte) {
    auto per = parsed<qt_stsz_info>(body_of(kPerSample));
    EXPECT_EQ(per.sample_size, 0u);
    EXPECT_EQ(per.tbl, (Sizes{500, 0x12345678, 0}));
    EXPECT_EQ(per.sample_count(), 3u);
    EXPECT_EQ(written(per), kPerSample);

    auto constant = parsed<qt_stsz_info>(body_of(kConstant));
    EXPECT_EQ(constant.sample_size, 1024u);
    EXPECT_EQ(constant.constant_count, 10u);
    EXPECT_TRUE(constant.tbl.empty());
    EXPECT_EQ(constant.sample_count(), 10u);
    EXPECT_EQ(written(constant), kConstant);
}

TEST(Stsz, EmptyTableIsWrittenAs20Bytes) {
    EXPECT_EQ(written(qt_stsz_info{}), (Bytes{
        0x00, 0x00, 0x00, 0x14,  // size 20
        's', 't', 's', 'z',      // type
        0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
        0x00, 0x00, 0x00, 0x00,  // sample size 0
        0x00, 0x00, 0x00, 0x00,  // sample count 0
    }));
}

TEST(Stsz, DamagedAndOddBodies) {
    struct Row {
        const char* name;
        Bytes body;
        uint32_t sample_size;
        uint64_t count;
        Sizes entries;
    };
    Bytes golden = body_of(kPerSample);
    Bytes version1 = golden;
    version1[0] = 1;
    const Row rows[] = {
        {"constant size ignores entries", body_of(0, {512, 4, 1, 2, 3, 4}), 512, 4, {}},
        {"count 10, room for 6", body_of(0, {0, 10, 1, 2, 3, 4, 5, 6}), 0, 6, {1, 2, 3, 4, 5, 6}},
        {"11 bytes", Bytes(golden.begin(), golden.begin() + 11), 0, 0, {}},
        {"cut inside an entry", Bytes(golden.begin(), golden.begin() + 19), 0, 1, {500}},
        {"version 1", version1, 0, 0, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stsz = parsed<qt_stsz_info>(row.body);
        EXPECT_EQ(stsz.sample_size, row.sample_size);
        EXPECT_EQ(stsz.sample_count(), row.count);
        EXPECT_EQ(stsz.tbl, row.entries);
    }
}

TEST(Stsz, AppendedSizes) {
    struct Row {
        const char* name;
        Bytes body;
        Sizes appended;
        uint32_t sample_size;
        uint64_t count;
        Sizes entries;
    };
    Sizes expanded(11, 1024);
    expanded.push_back(1000);
    const Row rows[] = {
        {"constant stays constant", body_of(kConstant), {1024, 1024, 1024}, 1024, 13, {}},
        {"a different size expands", body_of(kConstant), {1024, 1000}, 0, 12, expanded},
        {"empty never becomes constant", {}, {500, 500, 500}, 0, 3, {500, 500, 500}},
        {"size 0 into an empty table", {}, {0}, 0, 1, {0}},
        {"per-sample appends", body_of(kPerSample), {7}, 0, 4, {500, 0x12345678, 0, 7}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stsz = parsed<qt_stsz_info>(row.body);
        for (uint32_t s : row.appended) stsz.addSampleSize(s);
        EXPECT_EQ(stsz.sample_size, row.sample_size);
        EXPECT_EQ(stsz.sample_count(), row.count);
        EXPECT_EQ(stsz.tbl, row.entries);
        EXPECT_EQ(written(stsz).size(), 20 + 4 * row.entries.size());
    }
}

TEST(Stsz, ConstantFormCountsAppendedSamples) {
    auto stsz = parsed<qt_stsz_info>(body_of(kConstant));
    for (int i = 0; i < 3; ++i) stsz.addSampleSize(1024);
    EXPECT_EQ(written(stsz), (Bytes{
        0x00, 0x00, 0x00, 0x14,  // size 20
        's', 't', 's', 'z',      // type
        0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
        0x00, 0x00, 0x04, 0x00,  // sample size 1024
        0x00, 0x00, 0x00, 0x0D,  // sample count 13
    }));
}

}  // namespace
