// The fragment parser: one hand-written moof body read field by field, and
// damaged boxes read as far as they go.
#include "fragments/moof_parser.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "tests/fragments/moof_boxes.h"

namespace {

using namespace moof_boxes;

// The record in one line, zeros and absent fields left out: flags in hex,
// each sample as [duration size flags(hex) composition-offset], the other
// traf boxes by their number of entries.
std::string describe(const Bytes& body) {
    moof_info_t m;
    parse_moof_atom(m, body.data(), body.size());
    std::ostringstream o;
    o << "moof";
    auto put = [&](const char* name, uint64_t v) { if (v) o << ' ' << name << ' ' << v; };
    auto put_hex = [&](const char* name, uint32_t v) { if (v) o << ' ' << name << " 0x" << std::hex << v << std::dec; };
    put("seq", m.sequence_number);
    for (const moof_traf_info_t& t : m.trafs) {
        o << " | traf";
        put("id", t.track_ID);
        put_hex("flags", t.tf_flags);
        put("base", t.base_data_offset);
        put("sdi", t.sample_description_index);
        put("dur", t.default_sample_duration);
        put("size", t.default_sample_size);
        put_hex("sflags", t.default_sample_flags);
        if (t.has_tfdt) o << " tfdt " << t.base_media_decode_time;
        for (const auto& r : t.truns) {
            o << " trun";
            if (r.version) o << " v" << int{r.version};
            put_hex("flags", r.tr_flags);
            o << " count " << r.sample_count;
            if (r.has_data_offset) o << " off " << r.data_offset;
            if (r.has_first_sample_flags) put_hex("first", r.first_sample_flags);
            if (r.cut_short) o << " cut";
            else if (!r.has_per_sample_fields()) o << " held " << r.samples_held();
            for (const auto& s : r.samples)
                o << " [" << s.duration << ' ' << s.size << ' ' << std::hex << s.flags << std::dec << ' '
                  << s.composition_offset << ']';
        }
        if (t.senc.present) {
            o << " senc";
            put_hex("flags", t.senc.flags);
            if (t.senc.iv_size_given) o << " iv " << int{t.senc.iv_size};
            o << " count " << t.senc.sample_count << " at " << t.senc.entries_at << " bytes " << t.senc.entries.size();
        }
        put("saiz", t.saiz.size());
        put("saio", t.saio.size());
        put("sbgp", t.sbgp.size());
        put("sgpd", t.sgpd.size());
        put("subs", t.subs.size());
        put("sdtp", t.sdtp.tbl.size());
    }
    for (const auto& p : m.pssh) put("pssh", p.size());
    return o.str();
}

TEST(MoofParser, EveryFieldOfEveryBox) {
    const Bytes body = hex(
        "00000010 6D666864 00000000 00000007"    // mfhd v0: sequence_number 7
        "0000013A 74726166"                      // traf, 314 bytes
        "00000028 74666864 0000003B"             //   tfhd v0, every optional field
        "00000001 00000001 00001000"             //     track_ID 1, base_data_offset 0x100001000
        "00000002 00000400"                      //     sample_description_index 2, default duration 1024
        "00001F40 01010000"                      //     default size 8000, default flags
        "00000014 74666474 01000000"             //   tfdt v1
        "00000002 540BE400"                      //     base_media_decode_time 10^10
        "00000038 7472756E 00000F05 00000002"    //   trun v0: offset, first flags, all four per sample; 2
        "FFFFFFF8 02000000"                      //     data_offset -8, first_sample_flags
        "000003E8 00001234 01010000 00000BB8"    //     1000 ticks, 0x1234 bytes, flags, offset 3000
        "000003E9 00000567 00010000 FFFFFFFF"    //     1001 ticks, 0x567 bytes, flags, offset 2^32-1 (v0)
        "00000014 7472756E 01000800 00000001"    //   trun v1: offsets only; 1 sample
        "FFFFFFFF"                               //     offset -1 (v1)
        "00000014 7361697A 00000000 00 00000003" //   saiz v0: per-sample sizes, 3 samples
        "080E08"                                 //     8, 14, 8
        "00000014 7361696F 00000000 00000001"    //   saio v0, 1 entry
        "00000030"                               //     0x30
        "00000020 73656E63 00000000 00000002"    //   senc v0, flags 0, 2 samples: entries at body + 216
        "01020304 05060708 11121314 15161718"    //     two 8-byte IVs
        "0000001C 73626770 00000000 726F6C6C"    //   sbgp v0 'roll'
        "00000001 00000003 00010001"             //     1 run: 3 samples, the traf's group 1
        "0000001A 73677064 01000000 726F6C6C"    //   sgpd v1 'roll'
        "00000002 00000001 FFFF"                 //     entries of 2 bytes, 1 entry: -1
        "0000001E 73756273 00000000 00000001"    //   subs v0, 1 entry
        "00000001 0001 0005 00 00 00000000"      //     sample 1, 1 sub-sample of 5 bytes
        "0000000E 73647470 00000000 2010"        //   sdtp: 2 samples
        "00000090 74726166"                      // traf, 144 bytes
        "00000010 74666864 00020000 00000002"    //   tfhd v0: default-base-is-moof, track_ID 2
        "00000010 74666474 00000000 12345678"    //   tfdt v0
        "00000014 7472756E 00000001 00000003"    //   trun v0: data offset only; 3 samples
        "00000190"                               //     data_offset 400
        "00000044 75756964"                      //   uuid, 68 bytes
        "A2394F52 5A9B4F14 A2446C42 7C648DF4"    //     PIFF sample encryption
        "00000001 000001 10"                     //     v0, flags 0x1: algorithm 1, IV size 16
        "00000000 00000000 00000000 00000000"    //     KID
        "00000001"                               //     1 sample: entries at body + 442
        "00000000 00000000 00000000 00000001"    //     its IV
        "00000010 73656E63 00000000 00000000"    //   a second senc: the first one counts
        "00000020 70737368 00000000"             // pssh v0
        "00000000 00000000 00000000 00000000"    //   system ID
        "00000000");                             //   no data
    EXPECT_EQ(describe(body),
              "moof seq 7"
              " | traf id 1 flags 0x3b base 4294971392 sdi 2 dur 1024 size 8000 sflags 0x1010000 tfdt 10000000000"
              " trun flags 0xf05 count 2 off -8 first 0x2000000"
              " [1000 4660 1010000 3000] [1001 1383 10000 4294967295]"
              " trun v1 flags 0x800 count 1 [0 0 0 -1]"
              " senc count 2 at 216 bytes 16 saiz 1 saio 1 sbgp 1 sgpd 1 subs 1 sdtp 2"
              " | traf id 2 flags 0x20000 tfdt 305419896 trun flags 0x1 count 3 off 400 held 3"
              " senc flags 0x1 iv 16 count 1 at 442 bytes 16"
              " pssh 32");
}

TEST(MoofParser, DamagedBoxesAreReadAsFarAsTheyGo) {
    const Bytes traf1 = traf({tfhd(0, 1)});
    struct Row {
        const char* name;
        Bytes body;
        const char* expected;
    };
    const Row rows[] = {
        {"tfhd cut inside its base data offset: nothing after it",
         moof({traf({full_atom("tfhd", 0, 0x39, words({5, 1}))})}), "moof seq 1 | traf id 5 flags 0x39"},
        {"tfhd cut inside a default: the fields before it",
         moof({traf({tfhd(0x38, 1, cat({words({1001}), hex("0000")}))})}), "moof seq 1 | traf id 1 flags 0x38 dur 1001"},
        {"boxes of other versions, or shorter than their fixed part, are skipped",
         moof({traf({full_atom("tfhd", 1, 8, words({1, 1001})), full_atom("tfdt", 2, 0, u64(5)),
                     full_atom("tfdt", 1, 0, words({5})), trun(0x200, 1, words({16}), 2),
                     full_atom("trun", 0, 0x200, hex("0000")), full_atom("senc", 1, 0, words({0})),
                     full_atom("senc", 0, 0, hex("0000")), atom("uuid", Bytes(24, 0))})}),
         "moof seq 1 | traf"},
        {"the body bounds the declared count, and the count the samples read",
         moof({traf({trun(0x300, 10, cat({words({1, 101, 2, 102}), hex("0000 0003")})),
                     trun(0x200, 1, words({16, 17}))})}),
         "moof seq 1 | traf trun flags 0x300 count 10 [1 101 0 0] [2 102 0 0] trun flags 0x200 count 1 [0 16 0 0]"},
        {"cut inside the data offset or the first-sample flags: the count only",
         moof({traf({trun(0x1, 3, hex("0000")), trun(0x5, 3, words({16}))})}),
         "moof seq 1 | traf trun flags 0x1 count 3 cut trun flags 0x5 count 3 off 16 cut"},
        {"mfhd v1", cat({full_atom("mfhd", 1, 0, words({7})), traf1}), "moof | traf id 1"},
        {"a child larger than its parent", moof({traf({hex("00000100 74666864 00000000 00000001")})}),
         "moof seq 1 | traf"},
        {"a child past the body ends the walk", cat({moof({}), hex("00001000 66726565"), traf1}), "moof seq 1"},
        {"size 1 (64-bit) ends the walk", cat({moof({}), hex("00000001 66726565"), traf1}), "moof seq 1"},
        {"size 0 ends the walk", cat({moof({}), hex("00000000 66726565"), traf1}), "moof seq 1"},
        {"a size below the header ends the walk", cat({moof({}), hex("00000007 66726565"), traf1}), "moof seq 1"},
    };
    for (const Row& row : rows) EXPECT_EQ(describe(row.body), row.expected) << row.name;
}

}  // namespace
