#include "tables/stco.h"

#include <gtest/gtest.h>

#include "tests/tables/table_bytes.h"

using Offsets = std::vector<uint64_t>;

namespace {

// The largest offset that still allows stco.
const Bytes kStco = {
    0x00, 0x00, 0x00, 0x18,  // size 24
    's', 't', 'c', 'o',      // type
    0x00,                    // version 0
    0x00, 0x00, 0x00,        // flags
    0x00, 0x00, 0x00, 0x02,  // entry count 2
    0x00, 0x00, 0x00, 0x30,  // chunk 1 at 48
    0xEF, 0xFF, 0xFF, 0xFF,  // chunk 2 at 0xEFFFFFFF
};

// The same offsets read as co64 are written back as kStco.
const Bytes kSmallCo64 = {
    0x00, 0x00, 0x00, 0x20,                          // size 32
    'c', 'o', '6', '4',                              // type
    0x00, 0x00, 0x00, 0x00,                          // version 0, flags 0
    0x00, 0x00, 0x00, 0x02,                          // entry count 2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x30,  // chunk 1 at 48
    0x00, 0x00, 0x00, 0x00, 0xEF, 0xFF, 0xFF, 0xFF,  // chunk 2 at 0xEFFFFFFF
};

const Bytes kCo64 = {
    0x00, 0x00, 0x00, 0x20,                          // size 32
    'c', 'o', '6', '4',                              // type
    0x00,                                            // version 0
    0x00, 0x00, 0x00,                                // flags
    0x00, 0x00, 0x00, 0x02,                          // entry count 2
    0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x08,  // chunk 1 at 4 GiB + 8
    0x00, 0x00, 0x00, 0x00, 0xF0, 0x00, 0x00, 0x00,  // chunk 2 at 0xF0000000
};

qt_stco_info parsed_offsets(const Bytes& body, unsigned bits) {
    qt_stco_info stco;
    stco.parse_atom_data(body.data(), body.size(), bits);
    return stco;
}

class Stco : public ::testing::Test {};

TEST_F(Stco, GoldenBothWidthsParseAndWriteBack) {
    auto narrow = parsed_offsets(body_of(kStco), 32);
    EXPECT_EQ(narrow.tbl, (Offsets{48, 0xEFFFFFFF}));
    EXPECT_EQ(narrow.max_offset, 0xEFFFFFFFu);
    EXPECT_EQ(written(narrow), kStco);

    auto wide = parsed_offsets(body_of(kCo64), 64);
    EXPECT_EQ(wide.tbl, (Offsets{0x100000008, 0xF0000000}));
    EXPECT_EQ(wide.max_offset, 0x100000008u);
    EXPECT_EQ(written(wide), kCo64);

    EXPECT_EQ(written(parsed_offsets(body_of(kSmallCo64), 64)), kStco);
}

TEST_F(Stco, WidthFollowsTheLargestOffset) {
    struct Row {
        const char* name;
        Offsets offsets;
        bool force;
        uint32_t type;
        size_t size;
    };
    const uint32_t stco = 0x7374636F;  // "stco"
    const uint32_t co64 = 0x636F3634;  // "co64"
    const Row rows[] = {
        {"at the limit", {0xEFFFFFFF}, false, stco, 20},
        {"one past the limit", {0xF0000000}, false, co64, 24},
        {"one large among small", {0x10, 0xF0000000, 0x20}, false, co64, 40},
        {"empty", {}, false, stco, 16},
        {"forced", {0x10}, true, co64, 24},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qt_stco_info t;
        for (uint64_t o : row.offsets) t.addChunkOffset(o);
        Bytes out;
        BeWriter w(out);
        t.write_into(w, row.force);
        ASSERT_EQ(out.size(), row.size);
        EXPECT_EQ(be::read_u32(out.data()), row.size);
        EXPECT_EQ(be::read_u32(out.data() + 4), row.type);
    }
}

TEST_F(Stco, ForcedEmptyTableIsA16ByteCo64) {
    const Bytes expected = {
        0x00, 0x00, 0x00, 0x10,  // size 16
        'c', 'o', '6', '4',      // type
        0x00, 0x00, 0x00, 0x00,  // version 0, flags 0
        0x00, 0x00, 0x00, 0x00,  // entry count 0
    };
    Bytes out;
    BeWriter w(out);
    qt_stco_info{}.write_into(w, true);
    EXPECT_EQ(out, expected);
}

TEST_F(Stco, DamagedBodies) {
    struct Row {
        const char* name;
        Bytes body;
        unsigned bits;
        Offsets expected;
    };
    Bytes stco_version1 = body_of(kStco);
    stco_version1[0] = 1;
    const Row rows[] = {
        {"stco count 4, room for 2", body_of(0, {4, 7, 9}), 32, {7, 9}},
        {"co64 count 2, room for 1.5", body_of(0, {2, 0, 7, 0}), 64, {7}},
        {"cut inside the count", Bytes{0, 0, 0, 0, 0, 0}, 32, {}},
        {"version 1", stco_version1, 32, {}},
        {"unknown width", body_of(kStco), 16, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto stco = parsed_offsets(row.body, row.bits);
        EXPECT_EQ(stco.tbl, row.expected);
        EXPECT_EQ(stco.max_offset, row.expected.empty() ? 0 : row.expected.back());
    }
}

}  // namespace
