// The forward conversion's decisions before any write. The scan's verdict
// on a file's top-level atoms, as the conversion's walk finds them, and its
// brand test, with the offsets its refusals print: one row per way a file is
// told apart. The relocation in
// golden bytes, for both forms of the new mdat header and the debug mode:
// the file engine_test::converted makes (a moov of 200 payload bytes at 28,
// the first mdat at 236, a file of 400 bytes) as the planned writes leave it;
// the undo plan reads its record back. The moov's limits.
#include <gtest/gtest.h>

#include "atoms/fourcc.h"
#include "engine/conversion.h"
#include "tests/engine/image.h"

namespace {

using atom_bytes::hex;
using atom_bytes::to_hex;
using engine_test::Bytes;
using mp4b::Atom;

TEST(Scan, VerdictAndOffsets) {
    const Atom ftyp = mp4b::ftyp("isom", 512, {"isom", "iso2", "mp41"});  // 28 bytes
    // A moov at 28, its payload and mvex (its first child) from 36; mdat and
    // moof payloads at 244 and 292 when they follow it.
    const Atom frag = mp4b::moov_with_payload(200, true), plain = mp4b::moov_with_payload(200, false);
    const Atom mdat = mp4b::raw_of_size("mdat", 40), moof = mp4b::moof(1, 1, 0, 1, 40);
    const Atom nested = mp4b::container("moov", {mp4b::container("trak", {mp4b::container("mvex", {mp4b::trex(1)})})});
    // a, b: the payload offsets printed, of moov and mdat (not_quicktime) or moof and mvex (not_fragmented).
    struct Row { std::string what; std::vector<Atom> atoms; Msg verdict; uint64_t a = 0, b = 0; };
    std::vector<Row> rows = {
        {"empty file", {}, Msg::not_quicktime, 0, 0},
        {"no moov", {ftyp, mdat, moof}, Msg::not_quicktime, 0, 36},
        {"no mdat", {ftyp, frag, moof}, Msg::not_quicktime, 36, 0},
        {"moof without mvex", {ftyp, plain, mdat, moof}, Msg::not_fragmented, 292, 0},
        {"mvex without moof", {ftyp, frag, mdat}, Msg::not_fragmented, 0, 44},
        {"mvex below a trak", {ftyp, nested, mdat, moof}, Msg::not_fragmented, 140, 0},
        {"a 64-bit size below its header ends the walk",
         {ftyp, frag, mdat, mp4b::raw_of_size("free", 8).make_large().force_size(12), moof}, Msg::not_fragmented, 0, 44},
        {"only the first moov", {ftyp, plain, frag, mdat, moof}, Msg::not_fragmented, 500, 0},
        {"the first ftyp counts", {mp4b::ftyp("heic", 0, {"heic"}), ftyp, frag, mdat, moof}, Msg::not_mp4},
        {"no ftyp", {frag, mdat, moof}, Msg::not_mp4},
        {"family brand among others", {mp4b::ftyp("heic", 0, {"mif1", "cmfc"}), frag, mdat, moof}, Msg::none},
        {"the minor version is no brand", {mp4b::ftyp("heic", fourcc("isom"), {}), frag, mdat, moof}, Msg::not_mp4},
        {"a payload of 7 bytes", {mp4b::raw("ftyp", {'i', 's', 'o', 'm', 0, 0, 0}), frag, mdat, moof}, Msg::not_mp4},
        {"a payload of 8 bytes", {mp4b::raw("ftyp", {'i', 's', 'o', 'm', 0, 0, 0, 0}), frag, mdat, moof}, Msg::none},
    };
    for (const char* brand : {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "iso7", "iso8", "iso9", "mp41", "mp42",
                              "mp71", "avc1", "dash", "dsms", "msdh", "msix", "cmfc", "cmf2", "isml", "piff", "M4V ",
                              "M4A ", "M4B ", "M4P ", "f4v ", "3gp4", "3gp5", "3gp6", "3gp7", "3gp8", "3gp9", "3g2a",
                              "qt  ", "heic", "mif1", "jp2 "}) {
        const bool image = std::string("heic mif1 jp2 ").find(brand) != std::string::npos;
        rows.push_back({brand, {mp4b::ftyp(brand, 0, {brand}), frag, mdat, moof}, image ? Msg::not_mp4 : Msg::none});
    }
    // Only the first 512 bytes of the payload are read: 126 compatible brands.
    std::vector<std::string> brands(125, "heic");
    brands.push_back("isom");
    rows.push_back({"isom 126th", {mp4b::ftyp("heic", 0, brands), frag, mdat, moof}, Msg::none});
    brands.insert(brands.begin(), "heic");
    rows.push_back({"isom 127th", {mp4b::ftyp("heic", 0, brands), frag, mdat, moof}, Msg::not_mp4});
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes image = mp4b::serialise(row.atoms);
        qt_moov_info movie;
        const ScanResult s = plan_conversion(FileReader(image), movie, {image.size(), false, false, {}}).scan;
        EXPECT_EQ(s.verdict, row.verdict);
        const bool quicktime = row.verdict == Msg::not_quicktime;
        if (!quicktime && row.verdict != Msg::not_fragmented) continue;
        EXPECT_EQ((quicktime ? s.moov : s.first_moof).data_offset(), row.a);
        EXPECT_EQ((quicktime ? s.mdat : s.mvex).data_offset(), row.b);
    }
}

TEST(Relocation, GoldenBytes) {
    const std::string text = "Tolvane fragmented MP4 to non-fragmented MP4 converter (morvak_fragflat 1.0)";
    // P = M + 8 + N - H: the TOLV runs from M to P, the new mdat from P to S; the copy is appended at S.
    const char kCopyHead[] = "000000E0 544F4C56 000000D8 4F524947 000000D0 6D6F6F76";
    const struct { bool mdat64, debug; uint64_t P; const char *tolv, *mdat, *saved, *copy_head; } rows[] = {
        {false, false, 228, "000000C8 544F4C56", "000000AC 6D646174", "000001A0", kCopyHead},
        {true, false, 220, "000000C0 544F4C56", "00000001 6D646174 00000000 000000B4", "000001A0", kCopyHead},
        {false, true, 228, "000000C8 544F4C56", "000000AC 6D646174", "00000190", "000000D0 6D6F6F76"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.mdat64 ? "16" : "8") + "-byte header" + (row.debug ? ", debug mode" : ""));
        const engine_test::Converted c = engine_test::converted(row.mdat64, row.debug);
        const Bytes& o = c.original;
        const auto part = [&](uint64_t from, uint64_t to) { return Bytes(o.data() + from, o.data() + to); };
        const Bytes expected = atom_bytes::cat(
            {part(0, 28), hex(row.tolv), hex("00000054 56455253"), Bytes(text.begin(), text.end()),
             hex("00000040 4F524947"                                // ORIG
                 "00000010 4F46535A 00000000 00000190"              // OFSZ: S = 400
                 "00000010 4F4D4454 00000000 000000EC"              // OMDT: the first mdat at 236
                 "00000018 4F4D4F56 00000000 0000001C 00000000" +   // OMOV: M = 28, the copy's
                 std::string(row.saved) + "00000000"),              //   moov header; the end
             part(188, row.P), hex(row.mdat), part(236, 400), hex(row.copy_head), part(36, 236)});
        EXPECT_EQ(to_hex(c.bytes), to_hex(expected));
        EXPECT_EQ(c.plan.append_end, expected.size());
    }
}

TEST(Relocation, HeaderFormAndMoovLimits) {
    EXPECT_EQ(mdat_header_size(2147418111, false), 8u);  // 16 from 2147418112 on, or when forced: below
    // A moov at 28; the undo record needs 152 bytes after the new mdat header.
    const struct { uint64_t payload; bool large; uint64_t mdat_at, S; bool mdat64; Msg refusal; } rows[] = {
        {7, false, 1000, 2000, false, Msg::moov_too_large},
        {8, false, 1000, 2000, false, Msg::moov_too_small},
        {16777216, false, 16777252, 16777300, false, Msg::none},
        {16777217, false, 16777253, 16777300, false, Msg::moov_too_large},
        {200, true, 1000, 2000, false, Msg::moov_too_large},
        {200, false, 235, 400, false, Msg::moov_overlaps_mdat},
        {200, false, 236, 400, false, Msg::none},
        {160, false, 196, 400, false, Msg::none},
        {159, false, 195, 400, false, Msg::moov_too_small},
        {167, false, 203, 400, true, Msg::moov_too_small},
        {167, false, 203, 2147418112, false, Msg::moov_too_small},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.payload);
        AtomHeader moov, mdat;
        moov.start = 28;
        moov.header = row.large ? 16 : 8;
        moov.end = moov.body() + row.payload;
        mdat.start = row.mdat_at;
        Outcome o = check_moov_size(moov);
        if (o.ok()) o = check_moov_placement(moov, mdat, row.S, row.mdat64);
        EXPECT_EQ(o.msg, row.refusal);
    }
}

}  // namespace
