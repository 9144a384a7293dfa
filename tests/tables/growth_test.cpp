// How the tables grow as fragment samples and chunks are appended, and the
// forms the writers choose for what was appended: the rules that a round
// trip of golden bytes does not reach. One row each: the table after the
// change, as its fields (tests/tables/table_fields.h) or as the bytes written.
#include <gtest/gtest.h>

#include <functional>

#include "tests/tables/golden_atoms.h"
#include "tests/tables/table_fields.h"

namespace {

using namespace golden;
using Stts = qt_stts_info;
using Ctts = qt_ctts_info;
using Stss = qt_stss_info;
using Sdtp = qt_sdtp_info;
using Stsz = qt_stsz_info;
using Stsc = qt_stsc_info;
using Saiz = qt_saiz_info;

// The table read from `body` and changed; its fields or, with `bytes`, what
// it writes.
template <typename T, typename Change>
std::function<std::string()> grown(std::string body, Change change, bool bytes = false) {
    return [=] {
        T t = with_body<T>(body);
        change(t);
        return bytes ? to_hex(written(t)) : fields(t);
    };
}

// Samples 1, 2, ... of these flags appended.
void sync_flags(qt_stss_info& t, std::initializer_list<uint32_t> flags) {
    uint64_t n = 0;
    for (uint32_t f : flags) t.addSyncSample(f, ++n);
}

constexpr uint32_t kNonSync = 0x00010000, kDependent = 0x01000000;  // each makes a sample non-sync
constexpr uint32_t kSdtpFields = 0x066FFFFF;  // sdtp's four fields 1, 2, 1, 2, every bit below them set

TEST(Growth, AppendedSamplesFollowEachTablesRules) {
    struct Row { std::function<std::string()> run; std::string expected; };
    const Row rows[] = {
        // stts: a duration like the last extends its run; a full run starts another.
        {grown<Stts>("", [](Stts& t) { for (uint32_t d : {1000, 1000, 1001, 1000}) t.addSampleDuration(d); }),
         "n4 d4001: 2x1000 1x1001 1x1000"},
        {grown<Stts>("00000000 00000001 FFFFFFFF 0000000A", [](Stts& t) { t.addSampleDuration(10); }),
         "n4294967296 d42949672960: 4294967295x10 1x10"},
        // stts pad: the last sample of a run of several takes it, past runs of
        // none; a lone sample's run is lengthened; no duration past 2^31 - 1.
        {grown<Stts>("00000000 00000002 00000003 000003E8 00000000 00000005", [](Stts& t) { t.padLastSample(500); }),
         "n3 d3500: 2x1000 1x1500 0x5"},
        {grown<Stts>("00000000 00000001 00000001 000003E8",
                     [](Stts& t) { t.padLastSample(24); t.addSampleDuration(1000); }),
         "n2 d2024: 1x1024 1x1000"},
        {grown<Stts>("00000000 00000001 00000001 7FFFFFF0", [](Stts& t) { t.padLastSample(0x20); }),
         "n1 d2147483647: 1x2147483647"},
        // stts trim: the last samples go down to 1 tick, the one before them
        // gives the rest; only the samples from `first` on give, or none.
        {grown<Stts>("00000000 00000001 00000003 000003E8",
                     [](Stts& t) { EXPECT_TRUE(t.trim_last_samples(1500, 0)); }),
         "n3 d1500: 1x1000 1x499 1x1"},
        {grown<Stts>("00000000 00000001 00000002 00000003",
                     [](Stts& t) { EXPECT_FALSE(t.trim_last_samples(3, 1)); EXPECT_TRUE(t.trim_last_samples(2, 1)); }),
         "n2 d4: 1x3 1x1"},
        // stss: absent while every sample is sync (not marked non-sync, not
        // depending on others); the first non-sync one lists the earlier.
        {grown<Stss>("", [](Stss& t) { sync_flags(t, {0, 0x02000000, 0x03FEFFFF}); }), "absent"},
        {grown<Stss>("", [](Stss& t) { sync_flags(t, {0, 0, kNonSync | 0x02000000, 0x03FEFFFF, kDependent}); }),
         "[1 2 4]"},
        // sdtp: a byte per sample, 0 for those not known, those past the
        // track's cut; none while absent.
        {grown<Sdtp>("00000000 2010180400", [](Sdtp& t) { add_sdtp_sample(t, kSdtpFields, 7); }), "[2010180400000066]"},
        {grown<Sdtp>("00000000 2010180400", [](Sdtp& t) { add_sdtp_sample(t, kSdtpFields, 2); }), "[201066]"},
        {grown<Sdtp>("", [](Sdtp& t) { add_sdtp_sample(t, kSdtpFields, 0); }), "absent"},
        // stsz: constant while sizes match, one each from the first that
        // differs; never constant when appended.
        {grown<Stsz>("00000000 00000400 00000002", [](Stsz& t) { t.addSampleSize(1024); t.addSampleSize(1000); }),
         "1024 1024 1024 1000"},
        {grown<Stsz>("", [](Stsz& t) { t.addSampleSize(500); t.addSampleSize(500); }), "500 500"},
        // stsc: a run per change of samples or description (0 means 1); a
        // chunk not past the run's first chunk starts one.
        {grown<Stsc>("", [](Stsc& t) {
             for (uint32_t chunk : {1, 2, 3, 4}) t.addChunk(chunk, chunk == 3 ? 7 : 10, chunk % 2 == 1 ? 0 : 1);
         }), "1:10:1 3:7:1 4:10:1"},
        {grown<Stsc>("00000000 00000001 00000001 00000005 00000002",
                     [](Stsc& t) { t.addChunk(4, 5, 2); t.addChunk(1, 5, 2); }),
         "1:5:2 1:5:2"},
        // ctts: appended offsets make runs, written as version 1 for a
        // negative one; samples without an offset get 0; a full run starts
        // another.
        {grown<Ctts>("", [](Ctts& t) { for (int32_t o : {-1, -1, 2, 0, 0, 0}) t.addSampleCompOffset(o); }, true),
         to_hex(kCttsV1)},
        {grown<Ctts>("", [](Ctts& t) { t.addSampleCompOffset(0); t.addSampleCompOffset(0); }, true), ""},  // all 0
        {grown<Ctts>("00000000 00000001 00000002 00000005",
                     [](Ctts& t) { t.pad_to_sample_count(5); t.pad_to_sample_count(3); }),
         "n5: 2x5 3x0"},
        {grown<Ctts>("00000000 00000001 FFFFFFFF 00000004", [](Ctts& t) { t.addSampleCompOffset(4); }),
         "n4294967296: 4294967295x4 1x4"},
        // co64 when forced.
        {[] {
             Bytes out;
             BeWriter w(out);
             with_body<qt_stco_info>("00000000 00000002 00000030 EFFFFFFF").write_into(w, true);
             return to_hex(out);
         }, to_hex(kCo64Narrow)},
        // saiz: one size for all while they match, one each from the first
        // that differs; cut, or padded with samples without information.
        {grown<Saiz>("00000000 00 00000002 1010", [](Saiz& t) { t.add_sample_size(16); }, true),
         to_hex(hex("00000011 7361697A 00000000 10 00000003"))},  // default 16, 3 samples
        {grown<Saiz>("00000000 10 00000003", [](Saiz& t) { t.add_sample_size(8); }, true),
         to_hex(hex("00000015 7361697A 00000000 00 00000004 10101008"))},  // 4 sizes
        {grown<Saiz>("00000000 08 00000004", [](Saiz& t) { t.cover_samples(2); }), "2x8"},
        {grown<Saiz>("00000000 08 00000002", [](Saiz& t) { t.cover_samples(3); }), "080800"},
        // sbgp: cut, runs of none dropped, or padded with samples of no group.
        {grown<qt_sbgp_info>("00000000 726F6C6C 00000002 00000002 00000001 00000003 00000002",
                             [](qt_sbgp_info& t) { t.cover_samples(2); t.add_samples(1, 3); t.cover_samples(5); }),
         "roll n5: 2x1 1x3 2x0"},
        // sgpd: an entry found again keeps its index; one of another length
        // needs version 1.
        {grown<qt_sgpd_info>("00000000 726F6C6C 00000002 FFFFFFFE", [](qt_sgpd_info& t) {
             EXPECT_EQ(t.index_of({0xFF, 0xFE}), 2u);
             EXPECT_EQ(t.index_of({0, 1, 2}), 3u);
         }, true), to_hex(hex("0000002B 73677064 01000000 726F6C6C 00000000 00000003"  // version 1, 3 entries
                              "00000002 FFFF 00000002 FFFE 00000003 000102"))},       //   of their own length
        // subs: an entry not after the last is dropped; a size past 16 bits
        // needs version 1.
        {grown<qt_subs_info>("00000000 00000001 00000001 0001 0100 00 00 00000000",
                             [](qt_subs_info& t) { t.add_entry({1, {}}); t.add_entry({4, {{65536, 0, 0, 0}}}); }, true),
         to_hex(hex("00000030 73756273 01000000 00000002"       // size 48, 'subs', version 1, 2 entries
                    "00000001 0001 00000100 00 00 00000000"     // sample 1: 256 bytes
                    "00000003 0001 00010000 00 00 00000000"))},  // sample 4: 65536 bytes
        // senc: a copy of the fragments' information, until given up. A
        // sample without any is clear when the track has per-sample IVs: a
        // zero IV, clear ranges over all of it.
        {[] {
             qt_stsz_info stsz;
             stsz.addSampleSize(70000);
             qt_senc_info senc;
             senc.begin(8);
             senc.cover_samples(1, stsz);
             for (const Bytes& info : {hex("0102030405060708"), hex("1112131415161718 0001 0005 00000100")}) {
                 senc.add_sample(info.data(), info.size(), 300);
             }
             const std::string copy = to_hex(written(senc));
             senc.give_up();
             return copy + " | " + to_hex(written(senc));
         }, to_hex(hex("00000040 73656E63 00000002 00000003"                 // size 64, with maps, 3 samples
                       "0000000000000000 0002 FFFF 00000000 1171 00000000"  // 65535 + 4465 clear
                       "0102030405060708 0000"                              // IV only: encrypted whole
                       "1112131415161718 0001 0005 00000100")) + " | "},    // as copied
        // A distance between subs entries past 32 bits marks the writer, as
        // every count does; 2^32 - 1 still fits.
        {[] {
             Bytes out;
             BeWriter w(out);
             qt_subs_info t;
             t.add_entry({0xFFFFFFFF, {}});
             t.write_into(w);
             const bool at_limit = w.count_overflowed();
             t.add_entry({0x1FFFFFFFF, {}});
             t.write_into(w);
             return str(at_limit, w.count_overflowed(), " ") + hexs(Bytes(out.end() - 12, out.end()));
         }, "01 FFFFFFFF0000FFFFFFFF0000"},
        // A header keeps version 0 up to 0xEFFFFFFF (from 0xF0000000 on,
        // readers take the field for "unknown"); the debug switch forces 1.
        {[] {
             quicktime_mdhd_header_u h;
             parse(h, kMdhdV0);
             h.set_duration(0xEFFFFFFF);
             quicktime_mdhd_header_u forced = h;
             forced.set_duration(5, true);
             return fields(h) + " | " + fields(forced);
         }, "v0 ts90000 d4026531839 | v1 ts90000 d5"},
    };
    for (const Row& row : rows) EXPECT_EQ(row.run(), row.expected);
}

}  // namespace
