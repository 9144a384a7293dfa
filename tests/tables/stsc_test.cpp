#include "tables/stsc.h"

#include <gtest/gtest.h>

#include <ostream>

#include "tests/tables/table_bytes.h"

static bool operator==(const qt_sample_to_chunk_t& a, const qt_sample_to_chunk_t& b) {
    return a.first_chunk == b.first_chunk && a.samples_per_chunk == b.samples_per_chunk &&
           a.sample_description_index == b.sample_description_index;
}
static std::ostream& operator<<(std::ostream& os, const qt_sample_to_chunk_t& r) {
    return os << "{" << r.first_chunk << ", " << r.samples_per_chunk << ", "
              << r.sample_description_index << "}";
}

using Runs = std::vector<qt_sample_to_chunk_t>;

namespace {

const Bytes kStsc = {
    0x00, 0x00, 0x00, 0x28,  // size 40
    's', 't', 's', 'c',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x02,  // entry count 2
    0x00, 0x00, 0x00, 0x01,  // run 1 first chunk 1
    0x00, 0x00, 0x00, 0x05,  //       5 samples per chunk
    0x00, 0x00, 0x00, 0x02,  //       sample description 2
    0x00, 0x00, 0x01, 0x00,  // run 2 first chunk 256
    0x00, 0x01, 0x00, 0x00,  //       65536 samples per chunk
    0x00, 0x00, 0x00, 0x01,  //       sample description 1
};

TEST(Stsc, GoldenParsesAndWritesBackByteForByte) {
    auto stsc = parsed<qt_stsc_info>(body_of(kStsc));
    EXPECT_EQ(stsc.tbl, (Runs{{1, 5, 2}, {256, 65536, 1}}));
    EXPECT_EQ(written(stsc), kStsc);
}

TEST(Stsc, DamagedBodies) {
    struct Row {
        const char* name;
        Bytes body;
        Runs expected;
    };
    Bytes golden = body_of(kStsc);
    Bytes count3 = golden;
    count3[7] = 3;
    Bytes version1 = golden;
    version1[0] = 1;
    const Row rows[] = {
        {"count beyond the body", count3, {{1, 5, 2}, {256, 65536, 1}}},
        {"cut inside the second run", Bytes(golden.begin(), golden.begin() + 8 + 20), {{1, 5, 2}}},
        {"cut inside the count", Bytes(golden.begin(), golden.begin() + 5), {}},
        {"version 1", version1, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(parsed<qt_stsc_info>(row.body).tbl, row.expected);
    }
}

TEST(Stsc, AppendedChunks) {
    struct Chunk {
        uint64_t number;
        uint32_t samples;
        uint32_t description;
    };
    struct Row {
        const char* name;
        Bytes body;
        std::vector<Chunk> chunks;
        Runs expected;
    };
    const Bytes read = body_of(0, {1, 1, 5, 2});  // {1, 5, 2}, three chunks in the movie atom
    const Row rows[] = {
        {"runs by sample count", {}, {{1, 10, 1}, {2, 10, 1}, {3, 10, 1}, {4, 7, 1}, {5, 10, 1}},
         {{1, 10, 1}, {4, 7, 1}, {5, 10, 1}}},
        {"continues the run read", read, {{4, 5, 2}}, {{1, 5, 2}}},
        {"other count after the run read", read, {{4, 6, 2}}, {{1, 5, 2}, {4, 6, 2}}},
        {"other description after the run read", read, {{4, 5, 1}}, {{1, 5, 2}, {4, 5, 1}}},
        {"description 0 means 1", {}, {{1, 4, 0}, {2, 4, 1}, {3, 4, 2}, {4, 4, 2}, {5, 4, 0}},
         {{1, 4, 1}, {3, 4, 2}, {5, 4, 1}}},
        {"chunks without samples", {}, {{1, 0, 1}, {2, 0, 1}, {3, 3, 1}}, {{1, 0, 1}, {3, 3, 1}}},
        {"number not past the run's first chunk", read, {{1, 5, 2}}, {{1, 5, 2}, {1, 5, 2}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stsc = parsed<qt_stsc_info>(row.body);
        for (const Chunk& c : row.chunks) stsc.addChunk(c.number, c.samples, c.description);
        EXPECT_EQ(stsc.tbl, row.expected);
    }
}

TEST(Stsc, EmptyTableIsStillWritten) {
    EXPECT_EQ(written(qt_stsc_info{}), (Bytes{
        0x00, 0x00, 0x00, 0x10,  // size 16
        's', 't', 's', 'c',      // type
        0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
        0x00, 0x00, 0x00, 0x00,  // entry count 0
    }));
}

}  // namespace
