#include "tables/stts.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/tables/table_bytes.h"

static bool operator==(const qt_time_to_sample_t& a, const qt_time_to_sample_t& b) {
    return a.count == b.count && a.duration == b.duration;
}
static std::ostream& operator<<(std::ostream& os, const qt_time_to_sample_t& r) {
    return os << "{" << r.count << ", " << r.duration << "}";
}

using Runs = std::vector<qt_time_to_sample_t>;

namespace {

// Two equal neighbours (kept apart), a duration with the top bit set, and a
// trailing run of count 0 (kept).
const Bytes kStts = {
    0x00, 0x00, 0x00, 0x30,  // size 48
    's', 't', 't', 's',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x04,  // entry count 4
    0x00, 0x00, 0x00, 0x03,  // run 1 count 3
    0x00, 0x00, 0x03, 0xE9,  //       duration 1001
    0x00, 0x00, 0x00, 0x03,  // run 2 count 3
    0x00, 0x00, 0x03, 0xE9,  //       duration 1001
    0x00, 0x00, 0x00, 0x01,  // run 3 count 1
    0x80, 0x00, 0x00, 0x00,  //       duration 2^31
    0x00, 0x00, 0x00, 0x00,  // run 4 count 0
    0x00, 0x00, 0x00, 0x07,  //       duration 7
};

const Bytes kEmptyStts = {
    0x00, 0x00, 0x00, 0x10,  // size 16
    's', 't', 't', 's',      // type
    0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
    0x00, 0x00, 0x00, 0x00,  // entry count 0
};

TEST(Stts, GoldenParsesAndWritesBackByteForByte) {
    auto stts = parsed<qt_stts_info>(body_of(kStts));
    EXPECT_EQ(stts.tbl, (Runs{{3, 1001}, {3, 1001}, {1, 0x80000000u}, {0, 7}}));
    EXPECT_EQ(stts.sample_count(), 7u);
    EXPECT_EQ(stts.total_duration(), 6006u + 0x80000000u);
    EXPECT_EQ(written(stts), kStts);
}

TEST(Stts, EmptyTableIsStillWritten) {
    qt_stts_info stts = parsed<qt_stts_info>(body_of(kStts));
    stts.clear();
    EXPECT_EQ(stts.sample_count(), 0u);
    EXPECT_EQ(stts.total_duration(), 0u);
    EXPECT_EQ(written(stts), kEmptyStts);
}

TEST(Stts, DamagedBodiesReadAsFarAsTheyHold) {
    struct Row {
        const char* name;
        Bytes body;
        size_t runs;  // leading runs of the golden table that survive
        uint64_t samples;
    };
    Bytes golden = body_of(kStts);
    Bytes huge_count = golden;
    huge_count[4] = huge_count[5] = huge_count[6] = huge_count[7] = 0xFF;
    Bytes version1 = golden;
    version1[0] = 1;
    const Row rows[] = {
        {"cut inside the prefix", Bytes(golden.begin(), golden.begin() + 7), 0, 0},
        {"count but no runs", Bytes(golden.begin(), golden.begin() + 8), 0, 0},
        {"three runs and five spare bytes", Bytes(golden.begin(), golden.begin() + 8 + 24 + 5), 3, 7},
        {"count far beyond the body", huge_count, 4, 7},
        {"version 1", version1, 0, 0},
        {"nothing", Bytes{}, 0, 0},
    };
    Runs all = parsed<qt_stts_info>(golden).tbl;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stts = parsed<qt_stts_info>(row.body);
        EXPECT_EQ(stts.tbl, Runs(all.begin(), all.begin() + static_cast<long>(row.runs)));
        EXPECT_EQ(stts.sample_count(), row.samples);
    }
}

TEST(Stts, AppendedDurationsExtendOnlyTheLastRun) {
    struct Row {
        const char* name;
        Bytes body;
        std::vector<uint32_t> durations;
        Runs expected;
        uint64_t samples;
        uint64_t total;
    };
    const Row rows[] = {
        {"from empty", {}, {1000, 1000, 1001, 1000},
         {{2, 1000}, {1, 1001}, {1, 1000}}, 4, 4001},
        {"continues the run read", body_of(0, {1, 4, 512}), {512}, {{5, 512}}, 5, 2560},
        {"a count-0 run read is extended", body_of(0, {1, 0, 9}), {9, 9}, {{2, 9}}, 2, 18},
        {"a full run starts a new one", body_of(0, {1, 0xFFFFFFFF, 10}), {10},
         {{0xFFFFFFFF, 10}, {1, 10}}, 0x100000000, 0xA00000000},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stts = parsed<qt_stts_info>(row.body);
        for (uint32_t d : row.durations) stts.addSampleDuration(d);
        EXPECT_EQ(stts.tbl, row.expected);
        EXPECT_EQ(stts.sample_count(), row.samples);
        EXPECT_EQ(stts.total_duration(), row.total);
    }
}

TEST(Stts, PadLengthensTheLastRealSample) {
    struct Row {
        const char* name;
        Bytes body;
        uint64_t pad;
        Runs expected;
        uint64_t total;
    };
    const Row rows[] = {
        {"no samples", {}, 100, {}, 0},
        {"only count-0 runs", body_of(0, {1, 0, 5}), 9, {{0, 5}}, 0},
        {"single sample run", body_of(0, {1, 1, 1000}), 24, {{1, 1024}}, 1024},
        {"multi-sample run gives up its last", body_of(0, {1, 3, 1000}), 500,
         {{2, 1000}, {1, 1500}}, 3500},
        {"trailing count-0 runs passed over", body_of(0, {3, 2, 1000, 0, 5, 0, 6}), 1,
         {{1, 1000}, {1, 1001}, {0, 5}, {0, 6}}, 2001},
        {"duration stops at the signed 32-bit limit", body_of(0, {1, 1, 0x7FFFFFF0}), 0x20, {{1, 0x7FFFFFFF}},
         0x7FFFFFFF},
        {"a duration already past it is never shortened", body_of(0, {1, 1, 0xFFFFFFF0}), 0x20, {{1, 0xFFFFFFF0}},
         0xFFFFFFF0},
        {"pad beyond 32 bits never wraps", body_of(0, {1, 1, 10}), 0x100000005, {{1, 0x7FFFFFFF}}, 0x7FFFFFFF},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stts = parsed<qt_stts_info>(row.body);
        uint64_t samples = stts.sample_count();
        stts.padLastSample(row.pad);
        EXPECT_EQ(stts.tbl, row.expected);
        EXPECT_EQ(stts.total_duration(), row.total);
        EXPECT_EQ(stts.sample_count(), samples);
    }
}

TEST(Stts, SampleAfterPadDoesNotJoinThePaddedRun) {
    auto stts = parsed<qt_stts_info>(body_of(0, {1, 3, 1000}));
    stts.padLastSample(500);
    stts.addSampleDuration(1000);
    EXPECT_EQ(stts.tbl, (Runs{{2, 1000}, {1, 1500}, {1, 1000}}));
    EXPECT_EQ(stts.total_duration(), 4500u);
    EXPECT_EQ(written(stts), (Bytes{
        0x00, 0x00, 0x00, 0x28,  // size 40
        's', 't', 't', 's',      // type
        0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
        0x00, 0x00, 0x00, 0x03,  // entry count 3
        0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x03, 0xE8,  // {2, 1000}
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x05, 0xDC,  // {1, 1500}
        0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x03, 0xE8,  // {1, 1000}
    }));
}

}  // namespace
