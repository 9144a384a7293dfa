// Every table and header record read from golden bytes, its key fields
// checked, and written back: the same bytes, or the form the writer must
// choose instead. Then the same goldens damaged, and the headers promoted.
#include <gtest/gtest.h>

#include "tests/tables/golden_atoms.h"
#include "tests/tables/table_fields.h"

namespace {

using namespace golden;

// Reads the atom (a header given kDuration then, when not 0), returns its
// fields ("refused" first when the table refuses the body) and, when asked,
// what it writes.
using ReadFn = std::string (*)(const Bytes& atom, Bytes* out);
template <typename T, uint64_t kDuration = 0>
std::string read_back(const Bytes& atom, Bytes* out) {
    T t;
    const bool ok = parse(t, atom);
    if constexpr (kDuration != 0) t.set_duration(kDuration);
    if (out != nullptr) *out = written(t);
    return (ok ? "" : "refused ") + fields(t);
}
using Mvhd = quicktime_mvhd_header_u;
using Tkhd = quicktime_tkhd_header_u;
using Mdhd = quicktime_mdhd_header_u;

const Bytes kNoBytes;
const Bytes kCttsV0Negative = hex("00000018 63747473 00000000 00000001 00000002 FFFFFFFF");  // version 0, 2 of -1
const Bytes kCttsV1Negative = hex("00000018 63747473 01000000 00000001 00000002 FFFFFFFF");  // version 1, 2 of -1

TEST(Golden, ReadFieldsThenWriteTheSameBytesOrTheFormTheValuesNeed) {
    struct Row { const Bytes& atom; ReadFn read; const char* fields; const Bytes* written = nullptr; };  // or the atom
    const Row rows[] = {
        {kStts, read_back<qt_stts_info>, "n7 d2147489654: 3x1001 3x1001 1x2147483648 0x7"},
        {kCttsV0, read_back<qt_ctts_info>, "n5: 1x0 4x2147483647"},
        {kCttsV1, read_back<qt_ctts_info>, "n6: 2x-1 1x2 3x0"},
        {kCttsV0Negative, read_back<qt_ctts_info>, "n2: 2x-1", &kCttsV1Negative},  // read signed, written as version 1
        {kStss, read_back<qt_stss_info>, "[1 31 61]"},
        {kSdtp, read_back<qt_sdtp_info>, "[2010180400]"},
        {kSdtpEmpty, read_back<qt_sdtp_info>, "[]", &kNoBytes},  // nothing to say: not written
        {kTrik, read_back<qt_trik_info>, "[4182C3]"},
        {kStszPerSample, read_back<qt_stsz_info>, "500 305419896 0"},
        {kStszConstant, read_back<qt_stsz_info>, "10x1024"},
        {kStsc, read_back<qt_stsc_info>, "1:5:2 256:65536:1"},
        {kStco, read_back<qt_stco_info>, "48 4026531839 max 4026531839"},
        {kCo64, read_back<qt_stco_info>, "4026531840 16 max 4026531840"},
        {kCo64Narrow, read_back<qt_stco_info>, "48 4026531839 max 4026531839", &kStco},
        {kSaiz, read_back<qt_saiz_info>, "cenc/0 3x16"},
        {kSaizPerSample, read_back<qt_saiz_info>, "161000"},
        {kSaio, read_back<qt_saio_info>, "cenc/0 4294967295"},
        {kSaioV1, read_back<qt_saio_info>, "4294967296"},
        {kSbgp, read_back<qt_sbgp_info>, "seig/7 n7: 3x65537 4x0"},
        {kSgpdV0, read_back<qt_sgpd_info>, "v0 roll d0: FFFF FFFE"},
        {kSgpdV1, read_back<qt_sgpd_info>, "v1 roll d0: FFFF"},
        {kSgpdV2, read_back<qt_sgpd_info>, "v2 seig d2: 010203 04050607"},
        {kSubs, read_back<qt_subs_info>, "f1: 2[16/5/1/10] 5[65535/0/0/0]"},
        {kSenc, read_back<qt_senc_info>, ""},
        {kMvhdV0, read_back<Mvhd>, "v0 ts1000 d123456"},
        {kMvhdV1, read_back<Mvhd>, "v1 ts1000 d4886718345"},
        {kTkhdV0, read_back<Tkhd>, "v0 id2 d10000"},
        {kTkhdV1, read_back<Tkhd>, "v1 id2 d4886718345"},
        {kMdhdV0, read_back<Mdhd>, "v0 ts90000 d900000"},
        {kMdhdV1, read_back<Mdhd>, "v1 ts90000 d4886718345"},
        // Version 0 promoted by a duration past 32 bits: the other fields kept.
        {kMvhdV0, read_back<Mvhd, 0x123456789>, "v1 ts1000 d4886718345", &kMvhdV1},
        {kTkhdV0, read_back<Tkhd, 0x123456789>, "v1 id2 d4886718345", &kTkhdV1},
        {kMdhdV0, read_back<Mdhd, 0x123456789>, "v1 ts90000 d4886718345", &kMdhdV1},
        {kMdhdV0, read_back<Mdhd, 0xF0000000>, "v1 ts90000 d4026531840", &kMdhdV1Past0xEFFFFFFF},
        {kElstV0, read_back<qt_elst_info>, "66,-1 1500,1024"},
        {kElstV1, read_back<qt_elst_info>, "4294967296,-1 7,2147483648@2.16384 5,-2147483649@0.0"},
        {kElstV1Narrow, read_back<qt_elst_info>, "4294967295,-2147483648 1,2147483647", &kElstNarrowed},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(to_hex(row.atom));
        Bytes out;
        EXPECT_EQ(row.read(row.atom, &out), row.fields);
        EXPECT_EQ(to_hex(out), to_hex(row.written ? *row.written : row.atom));
    }
}

// A golden atom cut short by some bytes, or with one byte set (a count one
// too high, a version not defined): tables read what whole entries the body
// holds, and refuse what they cannot read.
TEST(Golden, DamagedBodiesAreReadAsFarAsTheyHold) {
    struct Row { const Bytes& atom; ReadFn read; size_t cut; int at, value; const char* fields; };  // [at] = value
    const Row rows[] = {
        {kStts, read_back<qt_stts_info>, 5, 0, 0, "n7 d2147489654: 3x1001 3x1001 1x2147483648"},
        {kStts, read_back<qt_stts_info>, 0, 15, 5, "n7 d2147489654: 3x1001 3x1001 1x2147483648 0x7"},
        {kStts, read_back<qt_stts_info>, 0, 8, 1, "n0 d0: "},
        {kCttsV1, read_back<qt_ctts_info>, 0, 8, 2, "n0: "},
        {kStss, read_back<qt_stss_info>, 0, 8, 1, "absent"},
        {kSdtp, read_back<qt_sdtp_info>, 1, 0, 0, "[20101804]"},
        {kSdtp, read_back<qt_sdtp_info>, 0, 8, 1, "refused absent"},
        {kSdtp, read_back<qt_sdtp_info>, 6, 0, 0, "refused absent"},  // cut inside the flags
        {kStszPerSample, read_back<qt_stsz_info>, 1, 0, 0, "500 305419896"},
        {kStszPerSample, read_back<qt_stsz_info>, 0, 19, 4, "500 305419896 0"},
        {kStszPerSample, read_back<qt_stsz_info>, 0, 8, 1, ""},
        {kSaiz, read_back<qt_saiz_info>, 1, 0, 0, "refused "},
        {kSaizPerSample, read_back<qt_saiz_info>, 1, 0, 0, "1610"},
        {kSaizPerSample, read_back<qt_saiz_info>, 0, 16, 4, "161000"},
        {kSaiz, read_back<qt_saiz_info>, 0, 8, 1, "refused "},
        {kSaio, read_back<qt_saio_info>, 1, 0, 0, "cenc/0 "},
        {kSaio, read_back<qt_saio_info>, 0, 23, 2, "cenc/0 4294967295"},
        {kSaio, read_back<qt_saio_info>, 0, 8, 2, "refused "},
        {kSbgp, read_back<qt_sbgp_info>, 1, 0, 0, "seig/7 n3: 3x65537"},
        {kSbgp, read_back<qt_sbgp_info>, 0, 23, 3, "seig/7 n7: 3x65537 4x0"},
        {kSbgp, read_back<qt_sbgp_info>, 0, 8, 2, "refused  n0: "},
        {kSgpdV2, read_back<qt_sgpd_info>, 1, 0, 0, "v2 seig d2: 010203"},
        {kSgpdV1, read_back<qt_sgpd_info>, 0, 23, 2, "v1 roll d0: FFFF"},
        {kSgpdV1, read_back<qt_sgpd_info>, 0, 8, 3, "refused v1  d0: "},
        {kSgpdV0, read_back<qt_sgpd_info>, 1, 0, 0, "refused v1  d0: "},  // 3 bytes do not split in 2
        {kSubs, read_back<qt_subs_info>, 1, 0, 0, "f1: 2[16/5/1/10]"},
        {kSubs, read_back<qt_subs_info>, 0, 15, 3, "f1: 2[16/5/1/10] 5[65535/0/0/0]"},
        {kSubs, read_back<qt_subs_info>, 0, 8, 2, "refused f0: "},
        {kElstV0, read_back<qt_elst_info>, 0, 15, 3, "66,-1 1500,1024"},
        {kElstV0, read_back<qt_elst_info>, 0, 8, 2, "absent"},
        {kMvhdV0, read_back<Mvhd>, 1, 0, 0, "absent"},
        {kTkhdV1, read_back<Tkhd>, 1, 0, 0, "absent"},
        {kMdhdV0, read_back<Mdhd>, 0, 8, 2, "absent"},
    };
    for (const Row& row : rows) {
        Bytes atom(row.atom.begin(), row.atom.end() - static_cast<long>(row.cut));
        if (row.at > 0) atom[static_cast<size_t>(row.at)] = static_cast<uint8_t>(row.value);
        EXPECT_EQ(row.read(atom, nullptr), row.fields) << to_hex(row.atom) << ", " << row.cut << ", " << row.at;
    }
}

}  // namespace
