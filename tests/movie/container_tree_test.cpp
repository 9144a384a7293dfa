// The movie tree: a golden moov read, changed as a merge changes it, and
// written back. Container sizes are counted by hand.
#include <gtest/gtest.h>

#include "movie/moov.h"
#include "tests/tables/golden_atoms.h"
#include "tests/tables/table_fields.h"

namespace {

using namespace golden;
using atom_bytes::cat;

Bytes with_byte(Bytes b, size_t at, uint8_t value) {
    b[at] = value;
    return b;
}
Bytes trex(const char* fields) { return cat({hex("00000020 74726578 00000000"), hex(fields)}); }  // size 32, version 0

const Bytes kUdta = hex("0000000C 75647461 00000000");  // size 12, 'udta': a terminator
const Bytes kSkip = hex("0000000C 736B6970 00000002");  // size 12, 'skip'
const Bytes kFree = hex("0000000C 66726565 DEADBEEF");  // size 12, 'free'
const Bytes kTkhd1 = with_byte(kTkhdV0, 23, 1);         // track_ID 1
const Bytes kHdlr = hex("00000022 68646C72 00000000 00000000 76696465"  // size 34, 'hdlr', version 0, 'vide',
                        "00000000 00000000 00000000 5600");             //   reserved, name "V"
const Bytes kStsd = hex("00000020 73747364 00000000 00000001"           // size 32, 'stsd', version 0, 1 entry:
                        "00000010 61766331 000000000000 0001");         //   size 16, 'avc1', data reference 1

// Modelled children are read in their written order, with unknown ones
// between them; the tables the merge creates go to their place among the
// modelled ones, after any unknown atom that followed the one before them.
TEST(ContainerTree, UnknownChildrenKeepTheirPlaceCreatedTablesTakeTheirsMvexGoes) {
    const Bytes body = cat({
        kUdta, kMvhdV0,
        hex("00000068 6D766578"),                                         // mvex 104
        trex("00000002 00000002 00000400 00000010 02000000"),             //   track 2: description 2, 1024, 16, sync
        trex("00000009 00000001 00000000 00000000 00000000"),             //   track 9: no such track
        trex("00000001 00000001 00000BB8 00000000 01010000"),             //   track 1: description 1, 3000, 0, non-sync
        hex("000001AA 7472616B"), kTkhd1,                                 // trak 426
        hex("00000030 65647473"), kElstV0, kFree,                         //   edts 48, an unknown atom after it
        hex("0000010A 6D646961"), kMdhdV0, kHdlr,                         //   mdia 266
        hex("000000C0 6D696E66 000000B8 7374626C"),                       //     minf 192, stbl 184
        kStsd, kStts, kFree, kStsc, kStszConstant, kStco,
        hex("00000070 7472616B"), kTkhdV1,                                // trak 112: no media
        kSkip});
    qt_moov_info movie;
    movie.parse_atom_data(body.data(), body.size());
    ASSERT_EQ(movie.tracks.size(), 2u);
    qt_stbl_info& stbl = movie.tracks[0].stbl();
    stbl.stss.addSyncSample(0x01010000, 3);  // the first non-sync sample creates stss
    stbl.ctts.addSampleCompOffset(5);
    stbl.sdtp.set_sample(1, 0x10);           // as a traf's sdtp does
    EXPECT_EQ(to_hex(written(movie)), to_hex(cat({
        hex("00000340 6D6F6F76"), kUdta, kMvhdV0,                         // moov 832, no mvex
        hex("000001E8 7472616B"), kTkhd1,                                 // trak 488
        hex("00000030 65647473"), kElstV0, kFree,
        hex("00000148 6D646961"), kMdhdV0, kHdlr,                         //   mdia 328
        hex("000000FE 6D696E66 000000F6 7374626C"), kStsd, kStts, kFree,  //     minf 254, stbl 246
        hex("00000018 73747373 00000000 00000002 00000001 00000002"),     //       stss: samples 1, 2
        hex("00000018 63747473 00000000 00000001 00000001 00000005"),     //       ctts: 1 of 5
        kStsc, kStszConstant, kStco,
        hex("0000000E 73647470 00000000 0010"),                           //       sdtp: unknown, on others
        hex("000000CC 7472616B"), kTkhdV1,                                // trak 204
        hex("0000005C 6D646961 00000054 6D696E66 0000004C 7374626C"),     //   mdia 92, minf 84, stbl 76
        hex("00000010 73747473 00000000 00000000"                         //     empty stts,
            "00000010 73747363 00000000 00000000"                         //       stsc,
            "00000014 7374737A 00000000 00000000 00000000"                //       stsz,
            "00000010 7374636F 00000000 00000000"),                       //       stco
        kSkip})));

    auto trex_of = [](const qt_trex_info& x) {
        return str(x.track_ID, " ", x.default_sample_description_index, " ", x.default_sample_duration, " ",
                   x.default_sample_size, " ", std::hex, x.default_sample_flags);
    };
    EXPECT_EQ(trex_of(movie.tracks[0].trex) + " | " + trex_of(movie.tracks[1].trex),
              "1 1 3000 0 1010000 | 2 2 1024 16 2000000");
    EXPECT_EQ(movie.unmatched_trex_ids, std::vector<uint32_t>{9});
    EXPECT_EQ(cc(movie.tracks[0].mdia.handler_type), "vide");
}

// A child whose size is below its header, or beyond what its parent has
// left, ends the walk: the children before it are read.
TEST(ContainerTree, ADamagedChildEndsTheWalk) {
    const Bytes trak = cat({hex("00000064 7472616B"), kTkhd1});  // size 100
    for (const Bytes& body : {cat({trak, hex("00000004 66726565"), trak}), cat({trak, with_byte(trak, 3, 101)})}) {
        qt_moov_info movie;
        movie.parse_atom_data(body.data(), body.size());
        EXPECT_EQ(movie.tracks.size(), 1u) << to_hex(body);
    }
}

}  // namespace
