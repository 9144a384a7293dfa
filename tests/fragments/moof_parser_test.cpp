#include "fragments/moof_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "movie/trex.h"
#include "tests/support/atom_bytes.h"

namespace {

using atom_bytes::Bytes;
using atom_bytes::hex;
using TrackRun = moof_traf_info_t::trun_t;

moof_info_t moof_from(const Bytes& body) {
    moof_info_t info;
    parse_moof_atom(info, body.data(), body.size());
    return info;
}

moof_traf_info_t traf_from(const Bytes& body) {
    moof_info_t info;
    moof_traf_info_t traf;
    info.parse_traf(traf, body.data(), body.size());
    return traf;
}

moof_traf_info_t trun_from(const Bytes& body) {
    moof_traf_info_t traf;
    traf.parse_trun(body.data(), body.size());
    return traf;
}

TEST(MoofParser, MfhdAndTwoTrafsInFileOrder) {
    const Bytes body = hex(
        "00000010 6D666864"            // mfhd, size 16
        "00 000000"                    //   version 0, flags 0
        "00000007"                     //   sequence_number 7
        "00000050 74726166"            // traf, size 80
        "00000010 74666864"            //   tfhd, size 16
        "00 020000"                    //     version 0, default-base-is-moof
        "00000001"                     //     track_ID 1
        "00000014 74666474"            //   tfdt, size 20
        "01 000000"                    //     version 1
        "00000002 540BE400"            //     base_media_decode_time 10^10
        "00000024 7472756E"            //   trun, size 36
        "00 000301"                    //     version 0, data offset, duration, size
        "00000002"                     //     sample_count 2
        "00000070"                     //     data_offset 112
        "00000BB8 000003E8"            //     sample 1: duration 3000, size 1000
        "00000BB8 00000200"            //     sample 2: duration 3000, size 512
        "00000030 74726166"            // traf, size 48
        "00000014 74666864"            //   tfhd, size 20
        "00 020008"                    //     default-base-is-moof, default duration
        "00000002"                     //     track_ID 2
        "00000400"                     //     default_sample_duration 1024
        "00000014 7472756E"            //   trun, size 20
        "00 000001"                    //     version 0, data offset only
        "00000003"                     //     sample_count 3
        "00000190");                   //     data_offset 400
    const moof_info_t info = moof_from(body);

    EXPECT_EQ(info.sequence_number, 7u);
    ASSERT_EQ(info.trafs.size(), 2u);

    const moof_traf_info_t& a = info.trafs[0];
    EXPECT_EQ(a.track_ID, 1u);
    EXPECT_EQ(a.tf_flags, 0x020000u);
    EXPECT_TRUE(a.has_tfdt);
    EXPECT_EQ(a.base_media_decode_time, 10000000000u);
    ASSERT_EQ(a.truns.size(), 1u);
    EXPECT_EQ(a.truns[0].data_offset, 112);
    ASSERT_EQ(a.truns[0].samples.size(), 2u);
    EXPECT_EQ(a.truns[0].samples[0].duration, 3000u);
    EXPECT_EQ(a.truns[0].samples[0].size, 1000u);
    EXPECT_EQ(a.truns[0].samples[1].size, 512u);

    const moof_traf_info_t& b = info.trafs[1];
    EXPECT_EQ(b.track_ID, 2u);
    EXPECT_EQ(b.default_sample_duration, 1024u);
    EXPECT_FALSE(b.has_tfdt);
    ASSERT_EQ(b.truns.size(), 1u);
    EXPECT_TRUE(b.truns[0].has_data_offset);
    EXPECT_EQ(b.truns[0].data_offset, 400);
    // No per-sample fields: three samples held, none materialised.
    EXPECT_TRUE(b.truns[0].samples.empty());
    EXPECT_EQ(b.truns[0].samples_held(), 3u);
}

TEST(MoofParser, MfhdTakenOnlyFromAVersion0BodyOf8Bytes) {
    struct Row { const char* name; const char* body; uint32_t sequence_number; };
    const Row rows[] = {
        {"v0", "00 000000 00000007", 7},
        {"v1", "01 000000 00000007", 0},
        {"short", "00 000000 0000", 0},
        {"empty", "", 0},
    };
    for (const Row& row : rows) {
        moof_info_t info;
        const Bytes body = hex(row.body);
        info.parse_mfhd(body.data(), body.size());
        EXPECT_EQ(info.sequence_number, row.sequence_number) << row.name;
    }
}

TEST(MoofParser, TfhdOptionalFieldsStopWhereTheBodyEnds) {
    struct Row {
        const char* name;
        const char* body;
        uint32_t tf_flags, track_ID;
        uint64_t base_data_offset;
        uint32_t description_index, duration, size, flags;
    };
    const Row rows[] = {
        // The 8-byte base data offset does not fit in the 4 bytes left, so
        // nothing after it is read either.
        {"0x39 in 12 bytes",
         "00 000039"            // version 0, base offset, duration, size, flags
         "00000005"             // track_ID 5
         "00000001",            // 4 stray bytes
         0x39, 5, 0, 0, 0, 0, 0},
        {"default-base-is-moof only",
         "00 020000"            // version 0, default-base-is-moof
         "00000003",            // track_ID 3
         0x020000, 3, 0, 0, 0, 0, 0},
        {"every field",
         "00 00003B"            // version 0, all five optional fields
         "00000001"             // track_ID 1
         "00000001 00001000"    // base_data_offset 0x100001000
         "00000002"             // sample_description_index 2
         "00000400"             // default_sample_duration 1024
         "00001F40"             // default_sample_size 8000
         "01010000",            // default_sample_flags depends-on-others, non-sync
         0x3B, 1, 0x100001000, 2, 1024, 8000, 0x01010000},
        {"cut after the duration",
         "00 000038"            // version 0, duration, size, flags
         "00000001"             // track_ID 1
         "000003E9"             // default_sample_duration 1001
         "0000",                // half a size
         0x38, 1, 0, 0, 1001, 0, 0},
        {"version 1", "01 000008 00000001 000003E9", 0, 0, 0, 0, 0, 0, 0},
        {"short", "00 000000 0000", 0, 0, 0, 0, 0, 0, 0},
    };
    for (const Row& row : rows) {
        moof_traf_info_t traf;
        const Bytes body = hex(row.body);
        traf.parse_tfhd(body.data(), body.size());
        EXPECT_EQ(traf.tf_flags, row.tf_flags) << row.name;
        EXPECT_EQ(traf.track_ID, row.track_ID) << row.name;
        EXPECT_EQ(traf.base_data_offset, row.base_data_offset) << row.name;
        EXPECT_EQ(traf.sample_description_index, row.description_index) << row.name;
        EXPECT_EQ(traf.default_sample_duration, row.duration) << row.name;
        EXPECT_EQ(traf.default_sample_size, row.size) << row.name;
        EXPECT_EQ(traf.default_sample_flags, row.flags) << row.name;
    }
}

TEST(MoofParser, TfdtVersion0And1) {
    struct Row { const char* name; const char* body; bool has_tfdt; uint64_t time; };
    const Row rows[] = {
        {"v0", "00 000000 12345678", true, 0x12345678},
        {"v1", "01 000000 00000012 3456789A", true, 0x123456789A},
        {"v1 in 8 bytes", "01 000000 12345678", false, 0},
        {"v2", "02 000000 00000012 3456789A", false, 0},
        {"empty", "", false, 0},
    };
    for (const Row& row : rows) {
        moof_traf_info_t traf;
        const Bytes body = hex(row.body);
        traf.parse_tfdt(body.data(), body.size());
        EXPECT_EQ(traf.has_tfdt, row.has_tfdt) << row.name;
        EXPECT_EQ(traf.base_media_decode_time, row.time) << row.name;
    }
}

TEST(MoofParser, CompositionOffsetSignedOnlyInVersion1) {
    struct Row { const char* body; int64_t offset; };
    const Row rows[] = {
        {"00 000800 00000001 FFFFFFFF", 4294967295},  // v0, cto present, 1 sample
        {"01 000800 00000001 FFFFFFFF", -1},          // v1, cto present, 1 sample
    };
    for (const Row& row : rows) {
        const moof_traf_info_t traf = trun_from(hex(row.body));
        ASSERT_EQ(traf.truns.size(), 1u);
        ASSERT_EQ(traf.truns[0].samples.size(), 1u);
        EXPECT_EQ(traf.truns[0].samples[0].composition_offset, row.offset) << row.body;
    }
}

TEST(MoofParser, RunWithFirstSampleFlags) {
    const moof_traf_info_t traf = trun_from(hex(
        "00 000E05"          // version 0: data offset, first-sample flags, size, flags, cto
        "00000002"           // sample_count 2
        "FFFFFFF8"           // data_offset -8
        "02000000"           // first_sample_flags: depends on no other
        "00001234 01010000 00000BB8"    // sample 1: size, flags, cto 3000
        "00000567 01010000 00000000")); // sample 2
    ASSERT_EQ(traf.truns.size(), 1u);
    const TrackRun& run = traf.truns[0];
    EXPECT_EQ(run.tr_flags, 0xE05u);
    EXPECT_EQ(run.version, 0);
    EXPECT_TRUE(run.has_data_offset);
    EXPECT_EQ(run.data_offset, -8);
    EXPECT_TRUE(run.has_first_sample_flags);
    EXPECT_EQ(run.first_sample_flags, 0x02000000u);
    ASSERT_EQ(run.samples.size(), 2u);
    EXPECT_EQ(run.samples[0].size, 0x1234u);
    EXPECT_EQ(run.samples[0].flags, 0x01010000u);
    EXPECT_EQ(run.samples[0].composition_offset, 3000);
    EXPECT_EQ(run.samples[1].size, 0x567u);
    EXPECT_EQ(run.samples[1].duration, 0u);
}

TEST(MoofParser, RunCutShortKeepsCompleteSamplesAndDeclaredCount) {
    const moof_traf_info_t traf = trun_from(hex(
        "00 000300"          // version 0, duration and size per sample
        "0000000A"           // sample_count 10
        "00000001 00000065"  // sample 1
        "00000002 00000066"  // sample 2
        "00000003 00000067"  // sample 3
        "00000004 00000068"  // sample 4
        "00000005 00000069"  // sample 5
        "00000006 0000006A"  // sample 6
        "00000007"));        // half of sample 7
    ASSERT_EQ(traf.truns.size(), 1u);
    const TrackRun& run = traf.truns[0];
    EXPECT_EQ(run.sample_count, 10u);
    ASSERT_EQ(run.samples.size(), 6u);
    EXPECT_EQ(run.samples_held(), 6u);
    EXPECT_EQ(run.samples[5].duration, 6u);
    EXPECT_EQ(run.samples[5].size, 0x6Au);
}

TEST(MoofParser, RunWithoutPerSampleFieldsHoldsItsDeclaredCountUnallocated) {
    const moof_traf_info_t traf = trun_from(hex(
        "00 000001"          // version 0, data offset only
        "FFFFFFFF"           // sample_count 2^32 - 1
        "00000100"));        // data_offset 256
    ASSERT_EQ(traf.truns.size(), 1u);
    const TrackRun& run = traf.truns[0];
    EXPECT_FALSE(run.has_per_sample_fields());
    EXPECT_TRUE(run.samples.empty());
    EXPECT_EQ(run.samples.capacity(), 0u);
    EXPECT_EQ(run.samples_held(), 0xFFFFFFFFu);
    EXPECT_EQ(run.data_offset, 256);
}

TEST(MoofParser, HugeDeclaredCountReservesOnlyWhatTheBodyHolds) {
    const moof_traf_info_t traf = trun_from(hex(
        "00 000200"          // version 0, size per sample
        "FFFFFFFF"           // sample_count 2^32 - 1
        "00000010"));        // the one sample present
    ASSERT_EQ(traf.truns.size(), 1u);
    EXPECT_EQ(traf.truns[0].samples.size(), 1u);
    EXPECT_LE(traf.truns[0].samples.capacity(), 1u);
}

TEST(MoofParser, RejectedRunsAddNothingAndCutRunsOnlyTheirCount) {
    struct Row { const char* name; const char* body; bool kept_cut; };
    const Row rows[] = {
        {"empty", "", false},
        {"version 2", "02 000200 00000001 00000010", false},
        {"shorter than 8", "00 000200 0000", false},
        // 3 samples declared, then the box ends in its fixed part
        {"data offset cut", "00 000001 00000003 0000", true},
        {"first-sample flags cut", "00 000005 00000003 00000010", true},
    };
    for (const Row& row : rows) {
        const moof_traf_info_t traf = trun_from(hex(row.body));
        if (!row.kept_cut) {
            EXPECT_TRUE(traf.truns.empty()) << row.name;
            continue;
        }
        ASSERT_EQ(traf.truns.size(), 1u) << row.name;
        EXPECT_TRUE(traf.truns[0].cut_short) << row.name;
        EXPECT_EQ(traf.truns[0].sample_count, 3u) << row.name;
        EXPECT_EQ(traf.truns[0].samples_held(), 0u) << row.name;
    }
}

TEST(MoofParser, TwoRunsInOneTrafEachKeepTheirOwnFields) {
    const moof_traf_info_t traf = traf_from(hex(
        "00000010 74666864"  // tfhd, size 16
        "00 020000"          //   default-base-is-moof
        "00000001"           //   track_ID 1
        "00000024 7472756E"  // trun, size 36
        "00 000301"          //   version 0: data offset, duration, size
        "00000002"           //   sample_count 2
        "00000068"           //   data_offset 104
        "00000400 00000100"  //   sample 1: duration 1024, size 256
        "00000400 00000101"  //   sample 2: duration 1024, size 257
        "0000001C 7472756E"  // trun, size 28
        "01 000204"          //   version 1: first-sample flags, size
        "00000002"           //   sample_count 2
        "02000000"           //   first_sample_flags
        "00000080"           //   sample 1: size 128
        "00000081"           //   sample 2: size 129
        "0000000C 66726565"  // free, size 12: skipped
        "00000000"));
    ASSERT_EQ(traf.truns.size(), 2u);
    const TrackRun& first = traf.truns[0];
    EXPECT_EQ(first.tr_flags, 0x301u);
    EXPECT_TRUE(first.has_data_offset);
    EXPECT_EQ(first.data_offset, 104);
    EXPECT_FALSE(first.has_first_sample_flags);
    ASSERT_EQ(first.samples.size(), 2u);
    EXPECT_EQ(first.samples[1].size, 257u);

    const TrackRun& second = traf.truns[1];
    EXPECT_EQ(second.tr_flags, 0x204u);
    EXPECT_EQ(second.version, 1);
    EXPECT_FALSE(second.has_data_offset);
    EXPECT_EQ(second.data_offset, 0);
    EXPECT_TRUE(second.has_first_sample_flags);
    EXPECT_EQ(second.first_sample_flags, 0x02000000u);
    ASSERT_EQ(second.samples.size(), 2u);
    EXPECT_EQ(second.samples[0].size, 128u);
    EXPECT_EQ(second.samples[0].duration, 0u);
}

TEST(MoofParser, MalformedChildEndsTheWalk) {
    // After a valid mfhd comes a child with the given size field, then a
    // well-formed traf that must not be read.
    struct Row { const char* name; const char* size_field; };
    const Row rows[] = {
        {"size 1 (64-bit size)", "00000001"},
        {"size 0 (to the end)", "00000000"},
        {"size below a header", "00000007"},
        {"size past the parent", "00001000"},
    };
    for (const Row& row : rows) {
        const moof_info_t info = moof_from(hex(
            std::string("00000010 6D666864 00 000000 00000009")  // mfhd, sequence 9
            + row.size_field + "66726565"                         // the bad child, 'free'
            + "00000018 74726166"                                 // traf, size 24
            + "00000010 74666864 00 000000 00000001"));           //   tfhd, track 1
        EXPECT_EQ(info.sequence_number, 9u) << row.name;
        EXPECT_TRUE(info.trafs.empty()) << row.name;
    }
}

TEST(MoofParser, TrafWithNothingReadableIsStillRecorded) {
    const moof_info_t info = moof_from(hex(
        "00000008 74726166"                     // empty traf
        "00000014 74726166"                     // traf, size 20
        "0000000C 74666864 01 000000"));        //   tfhd version 1, too short
    ASSERT_EQ(info.trafs.size(), 2u);
    EXPECT_EQ(info.trafs[0].track_ID, 0u);
    EXPECT_EQ(info.trafs[1].track_ID, 0u);
    EXPECT_TRUE(info.trafs[1].truns.empty());
}

TEST(TrexInfo, ReadsOnlyAFullVersion0Body) {
    const Bytes golden = hex(
        "00 000000"   // version 0, flags 0
        "00000002"    // track_ID 2
        "00000001"    // default_sample_description_index 1
        "00000400"    // default_sample_duration 1024
        "00000200"    // default_sample_size 512
        "01010000");  // default_sample_flags: depends on others, non-sync
    qt_trex_info trex;
    trex.parse_atom_data(golden.data(), golden.size());
    EXPECT_EQ(trex.track_ID, 2u);
    EXPECT_EQ(trex.default_sample_description_index, 1u);
    EXPECT_EQ(trex.default_sample_duration, 1024u);
    EXPECT_EQ(trex.default_sample_size, 512u);
    EXPECT_EQ(trex.default_sample_flags, 0x01010000u);

    Bytes v1 = golden;
    v1[0] = 1;
    const Bytes short20(golden.begin(), golden.begin() + 20);
    for (const Bytes* body : {static_cast<const Bytes*>(&v1), &short20}) {
        qt_trex_info untouched;
        untouched.parse_atom_data(body->data(), body->size());
        EXPECT_EQ(untouched.track_ID, 0u);
        EXPECT_EQ(untouched.default_sample_duration, 0u);
        EXPECT_EQ(untouched.default_sample_flags, 0u);
    }
}

}  // namespace
