#include "tables/sample_flags.h"

#include <gtest/gtest.h>

namespace {

TEST(SampleFlags, SyncWhenNotMarkedNonSyncAndNotDependent) {
    struct Row {
        uint32_t flags;
        bool sync;
    };
    const Row rows[] = {
        {0x00000000, true},   // dependency unknown
        {0x02000000, true},   // depends on no other
        {0x03000000, true},   // reserved dependency value
        {0x0000FFFF, true},   // degradation priority only
        {0x00FE0000, true},   // every bit between the fields and the non-sync bit
        {0x01000000, false},  // depends on others
        {0x00010000, false},  // non-sync bit
        {0x02010000, false},  // non-sync bit wins over "depends on none"
        {0x01010000, false},  // both
    };
    for (const Row& row : rows) {
        EXPECT_EQ(is_sync_sample_flags(row.flags), row.sync) << std::hex << row.flags;
    }
}

TEST(SampleFlags, SdtpByteTakesTheFourTwoBitFields) {
    struct Row {
        uint32_t flags;
        uint8_t byte;
    };
    const Row rows[] = {
        {0x0C000000, 0xC0},  // is_leading 3
        {0x03000000, 0x30},  // depends_on 3
        {0x00C00000, 0x0C},  // is_depended_on 3
        {0x00300000, 0x03},  // has_redundancy 3
        {0x066FFFFF, 0x66},  // 1, 2, 1, 2 with every lower bit set
        {0xF00FFFFF, 0x00},  // reserved top bits, padding, non-sync, priority
    };
    for (const Row& row : rows) {
        EXPECT_EQ(sdtp_byte_from_sample_flags(row.flags), row.byte) << std::hex << row.flags;
    }
}

}  // namespace
