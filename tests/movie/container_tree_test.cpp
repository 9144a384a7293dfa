// The movie tree: a golden moov read, changed as a merge changes it, and
// written back. Container sizes are counted by hand.
#include <gtest/gtest.h>

#include "movie/durations.h"
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
        hex("00000028 73747363 00000000 00000002"                         //       stsc and stsz cut to the
            "00000001 00000005 00000002 00000002 00000002 00000002"       //         7 samples of stts: 5 in
            "00000014 7374737A 00000000 00000400 00000007"),              //         chunk 1, 2 in 2; 7 x 1024
        kStco,
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

// Tables of one track that describe different numbers of samples: every
// table is cut to the samples all of them describe, chunks and runs too, and
// the samples the others described count as left out. Each row: the stbl's
// tables, then what they hold as read (each one shown once not empty).
TEST(ContainerTree, TablesThatDisagreeAreCutToTheSamplesAllDescribe) {
    auto stsc = [](const char* runs) { return atom_bytes::atom("stsc", hex(str("00000000 ", runs))); };
    auto stco = [](const char* entries) { return atom_bytes::atom("stco", hex(str("00000000 ", entries))); };
    const Bytes stts5 = hex("00000018 73747473 00000000 00000001 00000005 000003E8");  // 5 x 1000
    const Bytes stsz5 = hex("00000028 7374737A 00000000 00000000 00000005 0000000A 0000000B 0000000C 0000000D 0000000E");
    const struct { const char* name; Bytes stbl; const char* expected; } rows[] = {
        {"a constant size for 7,622,109 samples where stts has 23; the chunks hold 30",
         cat({hex("00000018 73747473 00000000 00000001 00000017 000003E8"), hex("00000014 7374737A 00000000 00000064 00744DDD"),
              stsc("00000001 00000001 0000000A 00000001"), stco("00000003 00000100 00000200 00000300")}),
         "stts n23 d23000: 23x1000 | stsz 23x100 | stsc 1:10:1 3:3:1 | stco 256 512 768 max 768 | left 7622086"},
        {"two chunks of two hold four of five: every per-sample table cut there, the senc dropped",
         cat({stts5, stsz5, stsc("00000001 00000001 00000002 00000001"), stco("00000002 00000100 00000200"),
              hex("00000028 63747473 00000000 00000003 00000002 00000000 00000002 00000002 00000001 00000004"),
              hex("00000018 73747373 00000000 00000002 00000001 00000005"), hex("00000011 73647470 00000000 1020304050"),
              hex("00000016 7361697A 00000000 00 00000005 0808080808"), hex("00000014 7361696F 00000000 00000001 00000100"),
              hex("0000001C 73626770 00000000 726F6C6C 00000001 00000005 00000001"),
              hex("0000001A 73756273 00000000 00000002 00000002 0000 00000003 0000"),
              hex("00000028 73656E63 00000000 00000005 0000000000000000 0000000000000000 0000000000000000")}),
         "stts n4 d4000: 4x1000 | stsz 10 11 12 13 | stsc 1:2:1 | stco 256 512 max 512 | ctts n4: 2x0 2x2"
         " | stss [1] | sdtp [10203040] | saiz 08080808 | saio 256 | sbgp roll n4: 4x1 | subs f0: 2[] | left 1"},
        {"runs read as readers take them: the first from chunk 1, one not after the one before and one past the last"
         " chunk cover none: the chunks hold 6, the one past the 5th and its saio entry go",
         cat({stts5, stsz5, stsc("00000004 00000005 00000002 00000001 00000003 00000004 00000002 00000003 00000001 00000001"
                                 "00000009 00000009 00000001"),
              stco("00000004 00000100 00000200 00000300 00000400"),
              hex("00000020 7361696F 00000000 00000004 00000001 00000002 00000003 00000004")}),
         "stts n5 d5000: 5x1000 | stsz 10 11 12 13 14 | stsc 1:2:1 3:1:1 | stco 256 512 768 max 768 | saio 1 2 3"
         " | left 1"},
        {"a chunk cut short gets a run of its own",
         cat({stts5, stsz5, stsc("00000001 00000001 00000003 00000001"), stco("00000003 00000100 00000200 00000300"),
              hex("0000001C 7361696F 00000000 00000003 00000001 00000002 00000003")}),
         "stts n5 d5000: 5x1000 | stsz 10 11 12 13 14 | stsc 1:3:1 2:2:1 | stco 256 512 max 512 | saio 1 2 | left 4"},
        {"samples without chunks", cat({stts5, stsz5}), "stts n0 d0:  | left 5"},
    };
    for (const auto& row : rows) {
        qt_moov_info movie;
        const Bytes body = atom_bytes::atom("trak", atom_bytes::atom("mdia", atom_bytes::atom("minf", atom_bytes::atom("stbl", row.stbl))));
        movie.parse_atom_data(body.data(), body.size());
        const qt_stbl_info& t = movie.tracks.at(0).stbl();
        std::string out = "stts " + fields(t.stts);
        auto show = [&](bool shown, const std::string& text) { out += shown ? " | " + text : ""; };
        show(t.stsz.sample_count() != 0, "stsz " + fields(t.stsz));
        show(!t.stsc.tbl.empty(), "stsc " + fields(t.stsc));
        show(!t.stco.tbl.empty(), "stco " + fields(t.stco));
        show(!t.ctts.tbl.empty(), "ctts " + fields(t.ctts));
        show(t.stss.present, "stss " + fields(t.stss));
        show(!t.sdtp.tbl.empty(), "sdtp " + fields(t.sdtp));
        for (const auto& x : t.saiz) show(true, "saiz " + fields(x));
        for (const auto& x : t.saio) show(true, "saio " + fields(x));
        for (const auto& x : t.sbgp) show(true, "sbgp " + fields(x));
        for (const auto& x : t.subs) show(true, "subs " + fields(x));
        show(!atom_bytes::written(t.senc).empty(), "senc");
        show(movie.samples_left_out() != 0, str("left ", movie.samples_left_out()));
        EXPECT_EQ(out, row.expected) << row.name;
    }
}

// A movie whose mvhd cannot be read (here its type is damaged, so that it is
// an unknown child) is given a whole one by the duration rewrite, written
// first: players need its timescale.
TEST(ContainerTree, AMovieWithoutAReadableHeaderGetsOneFirst) {
    Bytes damaged = kMvhdV0;
    damaged[5] = 0x01;  // 'm\x01hd'
    const Bytes body = cat({kUdta, damaged, hex("00000064 7472616B"), kTkhdV0});  // trak 100: track 2
    qt_moov_info movie;
    movie.parse_atom_data(body.data(), body.size());
    ASSERT_TRUE(rewrite_durations(movie));
    const Bytes out = written(movie);
    EXPECT_EQ(to_hex(Bytes(out.begin() + 8, out.begin() + 8 + 108 + 12 + 108)),
              to_hex(cat({hex("0000006C 6D766864 00000000"            // 108 'mvhd' v0: no creation or
                              "00000000 00000000 000003E8 00000000"  // modification time, 1000 ticks/s,
                              GOLDEN_MVHD_TAIL),                     // duration 0, rate and volume 1, next ID 3
                          kUdta, damaged})));
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
