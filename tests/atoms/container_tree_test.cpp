// The movie tree: a whole moov body parsed and written back, trex defaults
// matched to the tracks, and the walk's edge cases. Every expected atom is
// written out by hand; container sizes are counted by hand too.
#include "movie/moov.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/atom_bytes.h"

namespace {

using atom_bytes::Bytes;
using atom_bytes::cat;
using atom_bytes::hex;
using atom_bytes::to_hex;

#define MATRIX_UNITY                                 \
    "00010000 00000000 00000000"  /* matrix a b u */ \
    "00000000 00010000 00000000"  /* matrix c d v */ \
    "00000000 00000000 40000000"  /* matrix x y w */

// ---- Leaf atoms, each used as read and as expected (raw or re-encoded) ----

const Bytes kMvhd = hex(
    "0000006C 6D766864"           // size 108, 'mvhd'
    "00 000000"                   // version 0, flags 0
    "00000001 00000002"           // creation_time, modification_time
    "00000258"                    // timescale 600
    "00000000"                    // duration 0
    "00010000 0100 0000"          // rate 1.0, volume 1.0, reserved
    "00000000 00000000"           // reserved
    MATRIX_UNITY
    "00000000 00000000 00000000 00000000 00000000 00000000"  // pre_defined
    "00000003");                  // next_track_ID 3

const Bytes kTkhd1 = hex(
    "0000005C 746B6864"   // size 92, 'tkhd'
    "00 000003"           // version 0, enabled | in movie
    "00000001 00000002"   // creation_time, modification_time
    "00000001"            // track_ID 1
    "00000000"            // reserved
    "00000BB8"            // duration 3000
    "00000000 00000000"   // reserved
    "0000 0000"           // layer, alternate_group
    "0000 0000"           // volume 0, reserved
    MATRIX_UNITY
    "00A00000 00780000"); // width 160, height 120

const Bytes kTkhd2 = hex(
    "0000005C 746B6864"   // size 92, 'tkhd'
    "00 000003"           // version 0, enabled | in movie
    "00000001 00000002"   // creation_time, modification_time
    "00000002"            // track_ID 2
    "00000000"            // reserved
    "00000000"            // duration 0
    "00000000 00000000"   // reserved
    "0000 0001"           // layer, alternate_group 1
    "0100 0000"           // volume 1.0, reserved
    MATRIX_UNITY
    "00000000 00000000"); // width 0, height 0

const Bytes kEdts = hex(
    "00000024 65647473"   // size 36, 'edts'
    "0000001C 656C7374"   //   size 28, 'elst'
    "00 000000"           //   version 0, flags 0
    "00000001"            //   entry_count 1
    "00000BB8"            //   segment_duration 3000
    "00000000"            //   media_time 0
    "00010000");          //   media_rate 1.0

const Bytes kMdhd1 = hex(
    "00000020 6D646864"   // size 32, 'mdhd'
    "00 000000"           // version 0
    "00000001 00000002"   // creation_time, modification_time
    "00015F90"            // timescale 90000
    "00000000"            // duration 0
    "55C4 0000");         // language 'und', pre_defined

const Bytes kMdhd2 = hex(
    "00000020 6D646864"   // size 32, 'mdhd'
    "00 000000"           // version 0
    "00000001 00000002"   // creation_time, modification_time
    "0000AC44"            // timescale 44100
    "00000000"            // duration 0
    "55C4 0000");         // language 'und', pre_defined

const Bytes kHdlrVide = hex(
    "00000022 68646C72"           // size 34, 'hdlr'
    "00 000000"                   // version 0
    "00000000"                    // pre_defined
    "76696465"                    // handler_type 'vide'
    "00000000 00000000 00000000"  // reserved
    "56 00");                     // name "V"

const Bytes kHdlrSoun = hex(
    "00000022 68646C72"           // size 34, 'hdlr'
    "00 000000"                   // version 0
    "00000000"                    // pre_defined
    "736F756E"                    // handler_type 'soun'
    "00000000 00000000 00000000"  // reserved
    "53 00");                     // name "S"

const Bytes kVmhd = hex(
    "00000014 766D6864"   // size 20, 'vmhd'
    "00 000001"           // version 0, flags 1
    "0000 0000 0000 0000");  // graphicsmode, opcolor

const Bytes kSmhd = hex(
    "00000010 736D6864"   // size 16, 'smhd'
    "00 000000"           // version 0
    "0000 0000");         // balance, reserved

const Bytes kDinf = hex(
    "00000024 64696E66"   // size 36, 'dinf'
    "0000001C 64726566"   //   size 28, 'dref'
    "00 000000"           //   version 0
    "00000001"            //   entry_count 1
    "0000000C 75726C20"   //     size 12, 'url '
    "00 000001");         //     version 0, self-contained

const Bytes kStsdAvc1 = hex(
    "00000020 73747364"   // size 32, 'stsd'
    "00 000000"           // version 0
    "00000001"            // entry_count 1
    "00000010 61766331"   //   size 16, 'avc1'
    "000000000000 0001"); //   reserved, data_reference_index 1

const Bytes kStsdMp4a = hex(
    "00000020 73747364"   // size 32, 'stsd'
    "00 000000"           // version 0
    "00000001"            // entry_count 1
    "00000010 6D703461"   //   size 16, 'mp4a'
    "000000000000 0001"); //   reserved, data_reference_index 1

// Track 1's tables, each written back as read.
const Bytes kStts1 = hex(
    "00000018 73747473"   // size 24, 'stts'
    "00 000000 00000001"  // version 0, entry_count 1
    "00000002 00000BB8"); // 2 samples of 3000
const Bytes kStsc1 = hex(
    "0000001C 73747363"   // size 28, 'stsc'
    "00 000000 00000001"  // version 0, entry_count 1
    "00000001 00000002 00000001");  // first_chunk 1, 2 samples, description 1
const Bytes kStsz1 = hex(
    "00000014 7374737A"   // size 20, 'stsz'
    "00 000000"           // version 0
    "00000064 00000002"); // sample_size 100, sample_count 2
const Bytes kStco1 = hex(
    "00000014 7374636F"   // size 20, 'stco'
    "00 000000 00000001"  // version 0, entry_count 1
    "00001000");          // chunk offset 4096

// Empty tables, as every empty table writes itself.
const Bytes kSttsEmpty = hex("00000010 73747473 00 000000 00000000");  // 'stts', 0 entries
const Bytes kStscEmpty = hex("00000010 73747363 00 000000 00000000");  // 'stsc', 0 entries
const Bytes kStszEmpty = hex(
    "00000014 7374737A 00 000000 00000000 00000000");  // 'stsz', size 0, count 0
const Bytes kStcoEmpty = hex("00000010 7374636F 00 000000 00000000");  // 'stco', 0 entries

Bytes trex(const char* fields) {
    return cat({hex("00000020 74726578"   // size 32, 'trex'
                    "00 000000"),         // version 0
                hex(fields)});
}
const Bytes kTrex1 = trex(
    "00000001 00000001"   // track_ID 1, description index 1
    "00000BB8 00000000"   // duration 3000, size 0
    "01010000");          // flags: depends on others, non-sync
const Bytes kTrex2 = trex(
    "00000002 00000002"   // track_ID 2, description index 2
    "00000400 00000010"   // duration 1024, size 16
    "02000000");          // flags: depends on none
const Bytes kTrex3 = trex(
    "00000003 00000001 00000000 00000000 00000000");  // track_ID 3, no track has it

// Sample groups, typed in the stbl; a saio of an undefined version, kept raw.
const Bytes kSgpdRoll = hex(
    "0000001A 73677064"   // size 26, 'sgpd'
    "01 000000 726F6C6C"  // version 1, 'roll'
    "00000002 00000001"   // default_length 2, entry_count 1
    "FFFF");              // roll distance -1
const Bytes kSbgpRoll = hex(
    "0000001C 73626770"   // size 28, 'sbgp'
    "00 000000 726F6C6C"  // version 0, 'roll'
    "00000001"            // entry_count 1
    "00000000 00000001"); // 0 samples of entry 1
const Bytes kSaioV2 = hex("00000010 7361696F 02 000000 00000000");  // size 16, version 2

const Bytes kUdta = hex(
    "0000000C 75647461"   // size 12, 'udta'
    "00000000");          // terminator

// ---- The movie as stored: every container's modelled children out of the written order ----

const Bytes kMoovBody = cat({
    kUdta,
    hex("00000068 6D766578"), kTrex1, kTrex3, kTrex2,     // mvex, 104: before the tracks
    hex("00000196 7472616B"),                             // trak 406
      kEdts,
      hex("0000010E 6D646961"),                           //   mdia 270
        hex("000000C4 6D696E66"),                         //     minf 196
          kVmhd,
          hex("00000084 7374626C"),                       //       stbl 132
            kStco1, kStsz1, kStsc1, kStts1, kStsdAvc1,
          kDinf,
        kHdlrVide, kMdhd1,
      kTkhd1,
    kMvhd,
    hex("0000019C 7472616B"),                             // trak 412
      hex("00000138 6D646961"),                           //   mdia 312
        kHdlrSoun, kMdhd2,
        hex("000000EE 6D696E66"),                         //     minf 238
          hex("000000B2 7374626C"),                       //       stbl 178
            kSbgpRoll, kStsdMp4a, kSaioV2, kSttsEmpty, kSgpdRoll, kStscEmpty, kStszEmpty, kStcoEmpty,
          kSmhd, kDinf,
      kTkhd2,
});

// ---- The movie as written: no mvex; modelled children in a fixed order ----
// moov: mvhd, traks; trak: tkhd, edts, mdia; mdia: mdhd, minf; stbl: sgpd,
// sbgp, subs, stts, stss, ctts, stsc, stsz, stco, sdtp, senc, saiz, saio.
// Every other child right after the modelled child it followed, or first.

const Bytes kMoovWritten = cat({
    hex("000003B2 6D6F6F76"),                             // moov 946
    kUdta,                                                // first, as read
    kMvhd,
    hex("00000196 7472616B"),                             // trak 406
      kTkhd1,
      kEdts,                                              //   the edit list before mdia
      hex("0000010E 6D646961"),                           //   mdia 270
        kMdhd1,
        hex("000000C4 6D696E66"),                         //     minf 196
          kVmhd,
          hex("00000084 7374626C"),                       //       stbl 132
            kStts1, kStsdAvc1, kStsc1, kStsz1, kStco1,    //         stsd after stts
          kDinf,                                          //     after stbl
        kHdlrVide,                                        //   after minf
    hex("0000019C 7472616B"),                             // trak 412
      kTkhd2,
      hex("00000138 6D646961"),                           //   mdia 312
        kHdlrSoun, kMdhd2,
        hex("000000EE 6D696E66"),                         //     minf 238
          hex("000000B2 7374626C"),                       //       stbl 178
            kSgpdRoll, kSbgpRoll, kStsdMp4a, kSaioV2,     //         raw ones after sbgp
            kSttsEmpty, kStscEmpty, kStszEmpty, kStcoEmpty,
          kSmhd, kDinf,
});

qt_moov_info parsed_movie(const Bytes& body) {
    qt_moov_info movie;
    movie.parse_atom_data(body.data(), body.size());
    return movie;
}

TEST(ContainerTree, ModelledChildrenInFixedOrderOthersInTheirPlaceNoMvex) {
    const qt_moov_info movie = parsed_movie(kMoovBody);
    ASSERT_EQ(movie.tracks.size(), 2u);
    EXPECT_EQ(to_hex(atom_bytes::written(movie)), to_hex(kMoovWritten));
}

// Tables the merge creates go to their place among the modelled ones, after
// any raw atom that followed the table before them; at the end when no
// modelled one comes after them.
TEST(ContainerTree, CreatedTablesTakeTheirPlaceAroundRawOnes) {
    const Bytes unknown = hex("0000000C 66726565 DEADBEEF");  // size 12, 'free'
    const Bytes body = cat({kStsdAvc1, kStts1, unknown, kStsc1, kStsz1, kStco1});
    qt_stbl_info stbl;
    stbl.parse_atom_data(body.data(), body.size());
    stbl.stss.addSyncSample(0x01010000, 3);  // the first non-sync sample creates stss
    stbl.sdtp.set_sample(1, 0x10);           // a traf's sdtp creates it
    const Bytes expected = cat({
        hex("000000B6 7374626C"),             // stbl 182
        kStsdAvc1, kStts1, unknown,
        hex("00000018 73747373"               //   size 24, 'stss'
            "00 000000 00000002"              //   version 0, entry_count 2
            "00000001 00000002"),             //   samples 1 and 2
        kStsc1, kStsz1, kStco1,
        hex("0000000E 73647470"               //   size 14, 'sdtp'
            "00 000000 00 10"),               //   version 0, sample 1 unknown, sample 2 depends on none
    });
    EXPECT_EQ(to_hex(atom_bytes::written(stbl)), to_hex(expected));
}

TEST(ContainerTree, TrexDefaultsGoToTheTrackWithTheirIdWhateverTheOrder) {
    const qt_moov_info movie = parsed_movie(kMoovBody);
    ASSERT_EQ(movie.tracks.size(), 2u);
    struct Row { uint32_t id, description, duration, size, flags, handler; };
    const Row expected[] = {
        {1, 1, 3000, 0, 0x01010000, 0x76696465},   // 'vide'
        {2, 2, 1024, 16, 0x02000000, 0x736F756E},  // 'soun'
    };
    for (size_t i = 0; i < 2; ++i) {
        const qt_track_info& t = movie.tracks[i];
        const Row& e = expected[i];
        EXPECT_EQ(t.getTrackId(), e.id) << i;
        EXPECT_EQ(t.trex.track_ID, e.id) << i;
        EXPECT_EQ(t.trex.default_sample_description_index, e.description) << i;
        EXPECT_EQ(t.trex.default_sample_duration, e.duration) << i;
        EXPECT_EQ(t.trex.default_sample_size, e.size) << i;
        EXPECT_EQ(t.trex.default_sample_flags, e.flags) << i;
        EXPECT_EQ(t.mdia.handler_type, e.handler) << i;
    }
    EXPECT_EQ(movie.tracks[0].trackTimescale(), 90000u);
    EXPECT_EQ(movie.tracks[1].trackTimescale(), 44100u);
    EXPECT_EQ(movie.movieTimescale(), 600u);
    EXPECT_EQ(movie.unmatched_trex_ids, std::vector<uint32_t>{3});
}

TEST(ContainerTree, ChildOfSizeZeroEndsTheWalkButEarlierMvexStillCounts) {
    const Bytes body = cat({
        hex("00000048 6D766578"), kTrex1, kTrex2,       // mvex 72
        hex("00000064 7472616B"), kTkhd1,               // trak 100: tkhd only
        hex("00000000 66726565"),                       // 'free' of size 0: the walk ends
        hex("00000064 7472616B"), kTkhd2,               // lost
        hex("00000028 6D766578"), kTrex2,               // lost
    });
    const qt_moov_info movie = parsed_movie(body);
    ASSERT_EQ(movie.tracks.size(), 1u);
    EXPECT_EQ(movie.tracks[0].trex.default_sample_duration, 3000u);
    EXPECT_EQ(movie.unmatched_trex_ids, std::vector<uint32_t>{2});
    EXPECT_TRUE(movie.other_atoms.empty());
}

TEST(ContainerTree, HandlerTypeOnlyFromAVersion0HdlrOfAtLeast12Bytes) {
    struct Row { const char* name; const char* hdlr; uint32_t handler_type; };
    const Row rows[] = {
        {"12-byte body",
         "00000014 68646C72"          // size 20, 'hdlr'
         "00 000000 00000000"         // version 0, pre_defined
         "76696465",                  // 'vide'
         0x76696465},
        {"version 1",
         "00000014 68646C72"          // size 20, 'hdlr'
         "01 000000 00000000"         // version 1, pre_defined
         "76696465",                  // 'vide'
         0},
        {"11-byte body",
         "00000013 68646C72"          // size 19, 'hdlr'
         "00 000000 00000000"         // version 0, pre_defined
         "766964",                    // three bytes of a type
         0},
    };
    for (const Row& row : rows) {
        const Bytes hdlr = hex(row.hdlr);
        qt_mdia_info mdia;
        mdia.parse_atom_data(hdlr.data(), hdlr.size());
        EXPECT_EQ(mdia.handler_type, row.handler_type) << row.name;
        // Kept raw whatever its content.
        ASSERT_EQ(mdia.other_atoms.count(), 1u) << row.name;
        EXPECT_EQ(mdia.other_atoms.at(0), hdlr) << row.name;
    }
}

TEST(ContainerTree, TrakWithoutMdiaGetsEmptyMdiaMinfStblAndBadMvhdIsDropped) {
    const Bytes body = cat({
        hex("00000010 6D766864 02000000 00000000"),   // mvhd of version 2
        hex("00000064 7472616B"), kTkhd1,             // trak 100: tkhd only
    });
    const qt_moov_info movie = parsed_movie(body);
    const Bytes expected = cat({
        hex("000000C8 6D6F6F76"),                     // moov 200, no mvhd
        hex("000000C0 7472616B"),                     // trak 192
        kTkhd1,
        hex("0000005C 6D646961"),                     //   mdia 92, no mdhd
        hex("00000054 6D696E66"),                     //     minf 84
        hex("0000004C 7374626C"),                     //       stbl 76
        kSttsEmpty, kStscEmpty, kStszEmpty, kStcoEmpty,  // stss, ctts, sdtp absent
    });
    EXPECT_EQ(to_hex(atom_bytes::written(movie)), to_hex(expected));
}

// A count for a 32-bit field that does not fit marks the writer instead of
// wrapping to a small, plausible number.
TEST(ContainerTree, WriterMarksACountPast32Bits) {
    for (const uint64_t count : {uint64_t{0xFFFFFFFF}, uint64_t{0x100000001}}) {
        Bytes out;
        BeWriter w(out);
        w.count32(count);
        EXPECT_EQ(to_hex(out), to_hex(hex("FFFFFFFF"))) << count;
        EXPECT_EQ(w.count_overflowed(), count > 0xFFFFFFFF) << count;
    }
}

}  // namespace
