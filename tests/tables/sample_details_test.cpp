// The tables fragments continue beside the seven: saiz, saio, sgpd, sbgp,
// subs and the senc copy. Golden bytes read field by field and written back;
// then the rules by which the writers pick a version or a form.
#include <gtest/gtest.h>

#include "tables/saio.h"
#include "tables/saiz.h"
#include "tables/sbgp.h"
#include "tables/senc.h"
#include "tables/sgpd.h"
#include "tables/subs.h"
#include "tests/tables/table_bytes.h"

namespace {

using atom_bytes::hex;
using atom_bytes::to_hex;

template <typename Table>
Table read(const Bytes& atom) {
    Table t;
    EXPECT_TRUE(t.parse_atom_data(atom.data() + 8, atom.size() - 8)) << to_hex(atom);
    return t;
}

template <typename Table>
bool refused(const Bytes& atom) {
    Table t;
    return !t.parse_atom_data(atom.data() + 8, atom.size() - 8);
}

constexpr uint32_t kCenc = 0x63656E63;
constexpr uint32_t kRoll = 0x726F6C6C;

TEST(SampleDetails, GoldenBytesReadFieldByFieldAndWrittenBack) {
    const Bytes saiz = hex(
        "00000019 7361697A 00 000001"  // saiz, flags: kind given
        "63656E63 00000000"            //   aux_info_type 'cenc', parameter 0
        "10 00000003");                //   default size 16, 3 samples
    auto z = read<qt_saiz_info>(saiz);
    EXPECT_TRUE(z.info_type.present && z.info_type.type == kCenc);
    EXPECT_EQ(z.sample_count(), 3u);
    EXPECT_EQ(z.size_of(2), 16u);
    EXPECT_EQ(z.size_of(3), 0u);
    EXPECT_EQ(written(z), saiz);

    const Bytes per_sample = hex("00000014 7361697A 00 000000 00 00000003 16 10 00");  // 22, 16, 0
    EXPECT_EQ(read<qt_saiz_info>(per_sample).tbl, (Bytes{0x16, 0x10, 0x00}));
    EXPECT_EQ(written(read<qt_saiz_info>(per_sample)), per_sample);

    const Bytes saio = hex(
        "00000020 7361696F 01 000000"  // saio, version 1: 64-bit offsets
        "00000002"                     //   2 entries
        "00000001 00000000 00000000 00000010");
    EXPECT_EQ(read<qt_saio_info>(saio).offsets, (std::vector<uint64_t>{0x100000000, 0x10}));
    EXPECT_EQ(written(read<qt_saio_info>(saio)), saio);

    const Bytes sgpd = hex(
        "0000001A 73677064 01 000000"  // sgpd version 1
        "726F6C6C 00000002"            //   'roll', default length 2
        "00000001 FFFF");              //   1 entry: roll distance -1
    auto d = read<qt_sgpd_info>(sgpd);
    EXPECT_EQ(d.grouping_type, kRoll);
    EXPECT_EQ(d.entries, (std::vector<Bytes>{{0xFF, 0xFF}}));
    EXPECT_EQ(written(d), sgpd);

    const Bytes sgpd_v2 = hex(
        "0000002B 73677064 02 000000"  // sgpd version 2
        "73656967 00000000 00000002"   //   'seig', lengths per entry, default index 2
        "00000002 00000003 010203"     //   2 entries: 3 bytes
        "00000004 04050607");          //              4 bytes
    d = read<qt_sgpd_info>(sgpd_v2);
    EXPECT_EQ(d.default_description_index, 2u);
    EXPECT_EQ(d.entries, (std::vector<Bytes>{{1, 2, 3}, {4, 5, 6, 7}}));
    EXPECT_EQ(written(d), sgpd_v2);

    const Bytes sbgp = hex(
        "00000028 73626770 01 000000"  // sbgp version 1
        "73656967 00000007"            //   'seig', parameter 7
        "00000002 00000003 00010001"   //   2 runs: 3 samples of fragment entry 1
        "00000004 00000000");          //           4 samples of no group
    auto g = read<qt_sbgp_info>(sbgp);
    EXPECT_TRUE(g.has_parameter);
    EXPECT_EQ(g.grouping_type_parameter, 7u);
    EXPECT_EQ(g.sample_count(), 7u);
    EXPECT_EQ(g.tbl[0].group_index, 0x10001u);
    EXPECT_EQ(written(g), sbgp);

    const Bytes subs = hex(
        "0000002C 73756273 00 000001"  // subs version 0, flags 1
        "00000002"                     //   2 entries
        "00000002 0001"                //   sample 2, 1 subsample
        "0010 05 01 0000000A"          //     16 bytes, priority 5, discardable, parameters 10
        "00000003 0001"                //   sample 5 (2 + 3), 1 subsample
        "FFFF 00 00 00000000");        //     65535 bytes
    auto s = read<qt_subs_info>(subs);
    EXPECT_EQ(s.flags, 1u);
    ASSERT_EQ(s.entries.size(), 2u);
    EXPECT_EQ(s.entries[1].sample_number, 5u);
    EXPECT_EQ(s.entries[0].subsamples[0].size, 16u);
    EXPECT_EQ(s.entries[0].subsamples[0].codec_specific_parameters, 10u);
    EXPECT_EQ(written(s), subs);
}

TEST(SampleDetails, WritersPickTheSmallestVersionAndFormThatHoldTheValues) {
    auto saiz = read<qt_saiz_info>(hex("00000013 7361697A 00 000000 00 00000002 10 10"));
    saiz.add_sample_size(16);
    EXPECT_EQ(to_hex(written(saiz)), to_hex(hex("00000011 7361697A 00 000000 10 00000003")));  // one size
    saiz.add_sample_size(8);
    EXPECT_EQ(to_hex(written(saiz)), to_hex(hex("00000015 7361697A 00 000000 00 00000004 10101008")));

    auto saio = read<qt_saio_info>(hex("00000018 7361696F 01 000000 00000001 00000000 00000010"));
    EXPECT_EQ(to_hex(written(saio)), to_hex(hex("00000014 7361696F 00 000000 00000001 00000010")));
    saio.offsets.push_back(0xFFFFFFFF);
    EXPECT_EQ(written(saio)[8], 0);  // still fits 32 bits
    saio.offsets.push_back(0x100000000);
    EXPECT_EQ(written(saio)[8], 1);

    // Version 0 gives no length: its entries split the body evenly. One of
    // another length needs version 1, with a length per entry.
    auto sgpd = read<qt_sgpd_info>(hex("00000018 73677064 00 000000 726F6C6C 00000002 FFFF FFFE"));
    EXPECT_EQ(sgpd.index_of({0xFF, 0xFE}), 2u);  // already there
    EXPECT_EQ(written(sgpd)[8], 0);
    EXPECT_EQ(sgpd.index_of({0x00, 0x01, 0x02}), 3u);
    EXPECT_EQ(to_hex(written(sgpd)), to_hex(hex("0000002B 73677064 01 000000 726F6C6C 00000000 00000003"
                                                "00000002 FFFF 00000002 FFFE 00000003 000102")));
    EXPECT_TRUE(refused<qt_sgpd_info>(hex("00000017 73677064 00 000000 726F6C6C 00000002 FFFFFF")));

    auto subs = read<qt_subs_info>(hex("0000001E 73756273 01 000000 00000001 00000001 0001 00000100 00 00 00000000"));
    EXPECT_EQ(written(subs)[8], 0);  // 256 fits 16 bits
    subs.add_entry({1, {}});          // not after sample 1: dropped
    subs.add_entry({4, {{0x10000, 0, 0, 0}}});
    EXPECT_EQ(to_hex(written(subs)), to_hex(hex("00000030 73756273 01 000000 00000002"
                                                "00000001 0001 00000100 00 00 00000000"
                                                "00000003 0001 00010000 00 00 00000000")));

    // Versions not defined: the stbl keeps such a box as it is.
    EXPECT_TRUE(refused<qt_saiz_info>(hex("00000011 7361697A 01 000000 10 00000000")));
    EXPECT_TRUE(refused<qt_saio_info>(hex("00000010 7361696F 02 000000 00000000")));
    EXPECT_TRUE(refused<qt_sbgp_info>(hex("00000014 73626770 02 000000 73656967 00000000")));
    EXPECT_TRUE(refused<qt_subs_info>(hex("00000010 73756273 02 000000 00000000")));
}

TEST(SampleDetails, CoverCutsOrPadsToTheTracksSamples) {
    auto sbgp = read<qt_sbgp_info>(hex("0000001C 73626770 00 000000 726F6C6C 00000001 00000005 00000001"));
    sbgp.cover_samples(3);
    sbgp.add_samples(2, 1);  // joins the cut run
    sbgp.cover_samples(7);
    sbgp.add_samples(1, 2);
    EXPECT_EQ(to_hex(written(sbgp)), to_hex(hex("0000002C 73626770 00 000000 726F6C6C 00000003"
                                                "00000005 00000001 00000002 00000000 00000001 00000002")));

    auto saiz = read<qt_saiz_info>(hex("00000011 7361697A 00 000000 08 00000004"));
    saiz.cover_samples(2);
    saiz.cover_samples(3);
    EXPECT_EQ(to_hex(written(saiz)), to_hex(hex("00000014 7361697A 00 000000 00 00000003 080800")));
}

TEST(SampleDetails, SencCopyDescribesSamplesWithoutInformationAsClear) {
    qt_stsz_info stsz;
    stsz.addSampleSize(70000);  // a sample before the first with information
    qt_senc_info senc;
    senc.begin(8);
    senc.cover_samples(1, stsz);
    const Bytes iv = hex("0102030405060708");
    const Bytes mapped = hex("1112131415161718 0001 0005 00000100");
    senc.add_sample(iv.data(), iv.size(), 300);          // IV only: encrypted whole
    senc.add_sample(mapped.data(), mapped.size(), 261);  // IV and a map
    EXPECT_EQ(to_hex(written(senc)), to_hex(hex(
        "00000040 73656E63 00 000002 00000003"         // senc, with maps, 3 samples
        "0000000000000000 0002 FFFF 00000000 1171 00000000"  // clear: zero IV, 65535 + 4465 clear
        "0102030405060708 0000"                        // no map: the whole sample
        "1112131415161718 0001 0005 00000100")));      // as copied

    senc.give_up();
    EXPECT_TRUE(written(senc).empty());
}

}  // namespace
