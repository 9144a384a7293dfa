// The fragment parser: one hand-written moof body read field by field, and
// damaged boxes read as far as they go.
#include "fragments/moof_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/support/atom_bytes.h"

namespace {

using namespace atom_bytes;

// The record in one line, all numbers in hex: the sequence number; per traf
// its tfhd fields (track, flags, base, description, duration, size, flags),
// the tfdt time, each run (version, flags, declared count, the data offset
// and first-sample flags read, "cut" when cut inside them, the samples held,
// [duration size flags composition-offset] per sample read), the senc, the
// boxes of saiz, saio, sbgp, sgpd, subs and the sdtp's entries, a digit
// each; the size of each pssh.
std::string describe(const Bytes& body) {
    moof_info_t m;
    parse_moof_atom(m, body.data(), body.size());
    std::ostringstream o;
    o << std::hex << "seq " << m.sequence_number;
    for (const moof_traf_info_t& t : m.trafs) {
        o << " | traf " << t.track_ID << ' ' << t.tf_flags << ' ' << t.base_data_offset << ' '
          << t.sample_description_index << ' ' << t.default_sample_duration << ' ' << t.default_sample_size << ' '
          << t.default_sample_flags;
        if (t.has_tfdt) o << " tfdt " << t.base_media_decode_time;
        if (t.has_tfxd) o << " tfxd " << t.tfxd_time;
        for (const auto& r : t.truns) {
            o << " trun " << int{r.version} << ' ' << r.tr_flags << ' ' << r.sample_count;
            if (r.has_data_offset) o << " off " << r.data_offset;
            if (r.has_first_sample_flags) o << " first " << r.first_sample_flags;
            o << (r.cut_short ? " cut" : "") << " held " << r.samples_held();
            for (const auto& s : r.samples)
                o << " [" << s.duration << ' ' << s.size << ' ' << s.flags << ' ' << s.composition_offset << ']';
        }
        if (t.senc.present)  // the IV size of the box, or "tenc" when the box gives none
            o << " senc " << t.senc.flags << (t.senc.iv_size_given ? " iv " : " tenc ") << int{t.senc.iv_size}
              << " count " << t.senc.sample_count << " at " << t.senc.entries_at << " bytes " << t.senc.entries.size();
        o << " others " << t.saiz.size() << t.saio.size() << t.sbgp.size() << t.sgpd.size()
          << t.subs.size() << t.sdtp.tbl.size();
    }
    for (const auto& p : m.pssh) o << " pssh " << p.size();
    return o.str();
}

TEST(MoofParser, EveryFieldOfEveryBox) {
    const Bytes body = hex(
        "00000010 6D666864 00000000 00000007 0000013A 74726166"  // mfhd v0: sequence 7; traf, 314 bytes
        "00000028 74666864 0000003B 00000001 00000001 00001000"  //   tfhd v0, every field: track 1, base 0x100001000
        "00000002 00000400 00001F40 01010000"                    //     description 2, duration 1024, size 8000, flags
        "00000014 74666474 01000000 00000002 540BE400"           //   tfdt v1: 10^10
        // trun v0: offset, first flags, all four per sample; 2 samples
        "00000038 7472756E 00000F05 00000002 FFFFFFF8 02000000"  //     data_offset -8, first_sample_flags
        "000003E8 00001234 01010000 00000BB8"                    //     1000 ticks, 0x1234 bytes, flags, offset 3000
        "000003E9 00000567 00010000 FFFFFFFF"                    //     1001 ticks, 0x567 bytes, flags, 2^32-1 (v0)
        "00000014 7472756E 01000800 00000001 FFFFFFFF"           //   trun v1: offsets only; 1 sample: -1 (v1)
        "00000014 7361697A 00000000 00 00000003 080E08"          //   saiz v0: per-sample sizes 8, 14, 8
        "00000014 7361696F 00000000 00000001 00000030"           //   saio v0, 1 entry: 0x30
        "00000020 73656E63 00000000 00000002"                    //   senc v0, 2 samples: entries at body + 216
        "01020304 05060708 11121314 15161718"                    //     two 8-byte IVs
        "0000001C 73626770 00000000 726F6C6C 00000001 00000003 00010001"  // sbgp 'roll': 3 samples, group 1
        "0000001A 73677064 01000000 726F6C6C 00000002 00000001 FFFF"  // sgpd v1 'roll', 2-byte entries, 1: -1
        "0000001E 73756273 00000000 00000001 00000001 0001 0005 00 00 00000000"  // subs: sample 1, 5 bytes
        "0000000E 73647470 00000000 2010"                        //   sdtp: 2 samples
        "000000BC 74726166 00000010 74666864 00020000 00000002"  // traf, 188 bytes; tfhd: default-base-is-moof, 2
        "00000010 74666474 00000000 12345678"                    //   tfdt v0
        "00000014 7472756E 00000001 00000003 00000190"           //   trun v0: data offset 400 only; 3 samples
        "00000044 75756964 A2394F52 5A9B4F14 A2446C42 7C648DF4"  //   uuid, 68 bytes: PIFF sample encryption
        "00000001 000001 10 00000000 00000000 00000000 00000000"  //    v0, flags 1: algorithm 1, IV 16; KID
        "00000001 00000000 00000000 00000000 00000001"           //     1 sample: entries at body + 442; its IV
        "00000010 73656E63 00000000 00000000"                    //   a second senc: the first one counts
        "0000002C 75756964 6D1D9B05 42D544E6 80E2141D AFF757B2"  //   uuid, 44 bytes: Smooth Streaming tfxd
        "01000000 FFFFFFFF FFFC74F8 00000000 0046DC97"           //     v1: time 2^64 - 232200, duration
        "00000020 70737368 00000000 00000000 00000000 00000000 00000000 00000000");  // pssh v0, no data
    EXPECT_EQ(describe(body),
              "seq 7 | traf 1 3b 100001000 2 400 1f40 1010000 tfdt 2540be400"
              " trun 0 f05 2 off fffffff8 first 2000000 held 2 [3e8 1234 1010000 bb8] [3e9 567 10000 ffffffff]"
              " trun 1 800 1 held 1 [0 0 0 ffffffffffffffff]"
              " senc 0 tenc 0 count 2 at d8 bytes 10 others 111112"
              " | traf 2 20000 0 0 0 0 0 tfdt 12345678 tfxd fffffffffffc74f8 trun 0 1 3 off 190 held 3"
              " senc 1 iv 10 count 1 at 1ba bytes 10 others 000000"
              " pssh 20");
}

TEST(MoofParser, DamagedBoxesAreReadAsFarAsTheyGo) {
    const Bytes mfhd = full_atom("mfhd", 0, 0, words({1}));
    const struct { const char* name; Bytes body; const char* expected; } rows[] = {
        {"tfhd cut inside its base data offset: nothing after it",
         cat({mfhd, atom("traf", full_atom("tfhd", 0, 0x39, words({5, 1})))}), "seq 1 | traf 5 39 0 0 0 0 0 others 000000"},
        {"tfhd cut inside a default: the fields before it",
         cat({mfhd, atom("traf", full_atom("tfhd", 0, 0x38, cat({words({1, 1001}), hex("0000")})))}),
         "seq 1 | traf 1 38 0 0 3e9 0 0 others 000000"},
        // Runs: 10 samples declared, 2 and a half held; 1 sample declared, 2
        // held; cut inside the data offset; cut inside the first-sample flags.
        {"boxes of other versions or shorter than their fixed part skipped, the others read as far as they go",
         cat({mfhd, atom("traf", cat({full_atom("tfhd", 1, 8, words({1, 1001})), full_atom("tfdt", 2, 0, u64(5)),
                                      full_atom("tfdt", 1, 0, words({5})), full_atom("trun", 2, 0x200, words({1, 16})),
                                      full_atom("trun", 0, 0x200, hex("0000")), full_atom("senc", 1, 0, words({0})),
                                      full_atom("senc", 0, 0, hex("0000")), atom("uuid", Bytes(24, 0)),
                                      atom("uuid", hex("6D1D9B05 42D544E6 80E2141D AFF757B2 01000000 00000000")),
                                      full_atom("trun", 0, 0x300, cat({words({10, 1, 101, 2, 102}), hex("0000 0003")})),
                                      full_atom("trun", 0, 0x200, words({1, 16, 17})), full_atom("trun", 0, 5, words({3, 16})),
                                      full_atom("trun", 0, 1, hex("00000003 0000"))}))}),
         "seq 1 | traf 0 0 0 0 0 0 0 trun 0 300 a held 2 [1 65 0 0] [2 66 0 0] trun 0 200 1 held 1 [0 10 0 0]"
         " trun 0 5 3 off 10 cut held 0 trun 0 1 3 cut held 0 others 000000"},
        {"a child larger than its parent; a child of size 0 ends the walk",
         cat({mfhd, atom("traf", hex("00000100 74666864 00000000 00000001")), hex("00000000 66726565"), atom("traf", {})}),
         "seq 1 | traf 0 0 0 0 0 0 0 others 000000"},
    };
    for (const auto& row : rows) EXPECT_EQ(describe(row.body), row.expected) << row.name;
}

}  // namespace
