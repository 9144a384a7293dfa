#include "tables/ctts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include "tests/tables/table_bytes.h"

static bool operator==(const qt_composition_offset_t& a, const qt_composition_offset_t& b) {
    return a.count == b.count && a.offset == b.offset;
}
static std::ostream& operator<<(std::ostream& os, const qt_composition_offset_t& r) {
    return os << "{" << r.count << ", " << r.offset << "}";
}

using Runs = std::vector<qt_composition_offset_t>;

namespace {

// A negative offset, so version 1; the trailing offset-0 run is kept.
const Bytes kCttsV1 = {
    0x00, 0x00, 0x00, 0x28,  // size 40
    'c', 't', 't', 's',      // type
    0x01,                    // version 1
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x03,  // entry count 3
    0x00, 0x00, 0x00, 0x02,  // run 1 count 2
    0xFF, 0xFF, 0xFF, 0xFF,  //       offset -1
    0x00, 0x00, 0x00, 0x01,  // run 2 count 1
    0x00, 0x00, 0x00, 0x02,  //       offset 2
    0x00, 0x00, 0x00, 0x03,  // run 3 count 3
    0x00, 0x00, 0x00, 0x00,  //       offset 0
};

// Only non-negative offsets, so version 0, although the first run's is 0.
const Bytes kCttsV0 = {
    0x00, 0x00, 0x00, 0x20,  // size 32
    'c', 't', 't', 's',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x02,  // entry count 2
    0x00, 0x00, 0x00, 0x01,  // run 1 count 1
    0x00, 0x00, 0x00, 0x00,  //       offset 0
    0x00, 0x00, 0x00, 0x04,  // run 2 count 4
    0x7F, 0xFF, 0xFF, 0xFF,  //       offset 2^31 - 1
};

TEST(Ctts, GoldenBothVersionsParseAndWriteBack) {
    auto v1 = parsed<qt_ctts_info>(body_of(kCttsV1));
    EXPECT_EQ(v1.tbl, (Runs{{2, -1}, {1, 2}, {3, 0}}));
    EXPECT_EQ(v1.sample_count(), 6u);
    EXPECT_EQ(written(v1), kCttsV1);

    auto v0 = parsed<qt_ctts_info>(body_of(kCttsV0));
    EXPECT_EQ(v0.tbl, (Runs{{1, 0}, {4, 0x7FFFFFFF}}));
    EXPECT_EQ(v0.sample_count(), 5u);
    EXPECT_EQ(written(v0), kCttsV0);
}

TEST(Ctts, NegativeOffsetInVersion0IsReadSignedAndWrittenAsVersion1) {
    Bytes v0 = kCttsV1;
    v0[8] = 0x00;
    auto ctts = parsed<qt_ctts_info>(body_of(v0));
    EXPECT_EQ(ctts.tbl.front().offset, -1);
    EXPECT_EQ(written(ctts), kCttsV1);
}

TEST(Ctts, AppendedOffsetsMatchTheGolden) {
    qt_ctts_info ctts;
    for (int32_t o : {-1, -1, 2, 0, 0, 0}) ctts.addSampleCompOffset(o);
    EXPECT_EQ(ctts.sample_count(), 6u);
    EXPECT_EQ(written(ctts), kCttsV1);
}

TEST(Ctts, TableOfOnlyZeroOffsetsIsNotWritten) {
    qt_ctts_info appended;
    for (int i = 0; i < 3; ++i) appended.addSampleCompOffset(0);
    const qt_ctts_info cases[] = {
        qt_ctts_info{},
        parsed<qt_ctts_info>(body_of(0, {1, 5, 0})),
        parsed<qt_ctts_info>(body_of(1, {2, 5, 0, 0, 0})),
        appended,
    };
    for (const qt_ctts_info& ctts : cases) {
        EXPECT_TRUE(written(ctts).empty());
    }
}

TEST(Ctts, DamagedBodiesReadAsFarAsTheyHold) {
    struct Row {
        const char* name;
        Bytes body;
        Runs expected;
    };
    Bytes golden = body_of(kCttsV1);
    Bytes version2 = golden;
    version2[0] = 2;
    const Row rows[] = {
        {"cut inside the prefix", Bytes(golden.begin(), golden.begin() + 6), {}},
        {"cut inside the second run", Bytes(golden.begin(), golden.begin() + 8 + 12), {{2, -1}}},
        {"count beyond the body", body_of(1, {7, 2, 0xFFFFFFFE}), {{2, -2}}},
        {"version 2", version2, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parsed<qt_ctts_info>(row.body).tbl, row.expected);
    }
}

TEST(Ctts, PadToSampleCountFillsWithOffsetZero) {
    struct Row {
        const char* name;
        Bytes body;
        uint64_t n;
        Runs expected;
    };
    const Row rows[] = {
        {"empty", {}, 3, {{3, 0}}},
        {"after a non-zero run", body_of(0, {1, 2, 5}), 5, {{2, 5}, {3, 0}}},
        {"extends a zero run", body_of(0, {2, 1, 3, 1, 0}), 4, {{1, 3}, {3, 0}}},
        {"already covered", body_of(0, {1, 4, 5}), 2, {{4, 5}}},
        {"beyond one run's capacity", {}, 0x100000001, {{0xFFFFFFFF, 0}, {2, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto ctts = parsed<qt_ctts_info>(row.body);
        uint64_t before = ctts.sample_count();
        ctts.pad_to_sample_count(row.n);
        EXPECT_EQ(ctts.tbl, row.expected);
        EXPECT_EQ(ctts.sample_count(), std::max(before, row.n));
    }
}

TEST(Ctts, FullRunStartsANewOne) {
    auto ctts = parsed<qt_ctts_info>(body_of(0, {1, 0xFFFFFFFF, 4}));
    ctts.addSampleCompOffset(4);
    EXPECT_EQ(ctts.tbl, (Runs{{0xFFFFFFFF, 4}, {1, 4}}));
    EXPECT_EQ(ctts.sample_count(), 0x100000000u);
}

}  // namespace
