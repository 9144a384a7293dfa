// Classification of a file by its top-level atoms: everything that is not a
// fragmented MP4 file is refused, with its message, before anything is
// written. The same refusals hold in the debug mode.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_helpers.h"

namespace {

using e2e::Atom;
using mp4b::Bytes;

const char kNotMp4[] = "Not an MP4 file\n";

// Offset of the byte after the header of atoms[index], as the messages print
// it, from the sizes of the atoms before it.
uint64_t data_at(const std::vector<Atom>& atoms, size_t index) {
    uint64_t at = 0;
    for (size_t i = 0; i < index; ++i) at += atoms[i].real_size();
    return at + atoms[index].header_size();
}

std::string not_fragmented(uint64_t moof_at, uint64_t mvex_at) {
    return "Not a fragmented MP4 file\nmoof @ " + std::to_string(moof_at) + "\nmvex @ " +
           std::to_string(mvex_at) + "\n";
}

Atom frag_moov() { return mp4b::moov_with_payload(200, true); }
Atom plain_moov() { return mp4b::moov_with_payload(200, false); }

struct ScanCase {
    std::string name;
    std::vector<Atom> atoms;
    std::string err;
};

std::vector<ScanCase> scan_cases() {
    std::vector<ScanCase> cases;
    cases.push_back({"EmptyFile", {}, "Not a quicktime file in general\nmoov @ 0\nmdat @ 0\n"});
    // ftyp is 28 bytes: the moov's or mdat's payload starts at 36.
    cases.push_back({"NoMoov",
                     {e2e::isom_ftyp(), e2e::mdat(40), mp4b::moof(1, 1, 0, 1, 40)},
                     "Not a quicktime file in general\nmoov @ 0\nmdat @ 36\n"});
    cases.push_back({"NoMdat",
                     {e2e::isom_ftyp(), frag_moov(), mp4b::moof(1, 1, 0, 1, 40)},
                     "Not a quicktime file in general\nmoov @ 36\nmdat @ 0\n"});
    cases.push_back({"FirstFtypCounts",
                     {mp4b::ftyp("heic", 0, {"heic"}), e2e::isom_ftyp(), frag_moov(), e2e::mdat(40),
                      mp4b::moof(1, 1, 0, 1, 40)},
                     kNotMp4});
    // moov payload [36, 236), mdat [236, 284), moof from 284.
    cases.push_back({"PlainMp4", {e2e::isom_ftyp(), plain_moov(), e2e::mdat(40)}, not_fragmented(0, 0)});
    cases.push_back({"MoofWithoutMvex",
                     {e2e::isom_ftyp(), plain_moov(), e2e::mdat(40), mp4b::moof(1, 1, 0, 1, 40)},
                     not_fragmented(292, 0)});
    cases.push_back({"MvexWithoutMoof", {e2e::isom_ftyp(), frag_moov(), e2e::mdat(40)},
                     not_fragmented(0, 44)});
    cases.push_back({"EmptyMoov",
                     {e2e::isom_ftyp(), mp4b::moov_with_payload(0, false), e2e::mdat(40),
                      mp4b::moof(1, 1, 0, 1, 40)},
                     not_fragmented(92, 0)});
    {
        Atom moov = mp4b::container(
            "moov", {mp4b::container("trak", {mp4b::container("mvex", {mp4b::trex(1)})})});
        std::vector<Atom> atoms{e2e::isom_ftyp(), moov, e2e::mdat(40), mp4b::moof(1, 1, 0, 1, 40)};
        const uint64_t moof_at = data_at(atoms, 3);
        cases.push_back({"MvexNestedDeeper", std::move(atoms), not_fragmented(moof_at, 0)});
    }
    {
        std::vector<Atom> atoms{e2e::isom_ftyp(), plain_moov(), frag_moov(), e2e::mdat(40),
                                mp4b::moof(1, 1, 0, 1, 40)};
        const uint64_t moof_at = data_at(atoms, 4);
        cases.push_back({"OnlyFirstMoovExamined", std::move(atoms), not_fragmented(moof_at, 0)});
    }
    {
        // A size-0 mdat runs to the end of the file: the moof inside it is
        // media data, not an atom.
        Atom hiding = e2e::mdat(0);
        hiding.payload = mp4b::serialise(mp4b::moof(1, 1, 0, 1, 40));
        hiding.size_zero();
        cases.push_back({"SizeZeroMdatHidesMoof", {e2e::isom_ftyp(), frag_moov(), hiding},
                         not_fragmented(0, 44)});
    }
    // A header whose size cannot hold it ends the walk: the moof after it is
    // never reached.
    for (const uint64_t bad_size : {2, 7}) {
        Atom bad = mp4b::raw_of_size("free", 8);
        bad.force_size(bad_size);
        cases.push_back({"WalkEndsAtSize" + std::to_string(bad_size),
                         {e2e::isom_ftyp(), frag_moov(), e2e::mdat(40), bad, mp4b::moof(1, 1, 0, 1, 40)},
                         not_fragmented(0, 44)});
    }
    {
        Atom bad = mp4b::raw_of_size("free", 8);
        bad.make_large().force_size(12);
        cases.push_back({"WalkEndsAtLargeSizeBelowHeader",
                         {e2e::isom_ftyp(), frag_moov(), e2e::mdat(40), bad, mp4b::moof(1, 1, 0, 1, 40)},
                         not_fragmented(0, 44)});
    }
    return cases;
}

// Failures name the case instead of dumping its bytes.
void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class Scan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(Scan, RefusedUnchanged) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, GetParam().atoms);
    for (const std::vector<std::string>& switches :
         {std::vector<std::string>{}, std::vector<std::string>{"--dbg-move-moov"}}) {
        SCOPED_TRACE(switches.empty() ? "normal mode" : "debug mode");
        e2e::expect_refused(path, switches, GetParam().err);
    }
}

INSTANTIATE_TEST_SUITE_P(TopLevel, Scan, ::testing::ValuesIn(scan_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// Brand test, one row per ftyp (or none). A file that passes it goes on to
// be refused as not fragmented (it has no moof), which shows where the
// verdict was reached.
struct BrandCase {
    std::string name;
    std::vector<Atom> ftyp;  // empty: the file has none
    bool passes;
};

Atom ftyp_payload(Bytes payload) { return mp4b::raw("ftyp", std::move(payload)); }

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string name_of(std::string brand) {
    for (char& c : brand)
        if (c == ' ') c = '_';
    return brand;
}

std::vector<BrandCase> brand_cases() {
    std::vector<BrandCase> cases;
    // The ISO base media family, DASH, CMAF, Smooth Streaming, iTunes, Flash,
    // 3GPP, and QuickTime.
    for (const char* brand : {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "iso7", "iso8", "iso9", "mp41", "mp42",
                              "mp71", "avc1", "dash", "dsms", "msdh", "msix", "cmfc", "cmf2", "isml", "piff", "M4V ",
                              "M4A ", "M4B ", "M4P ", "f4v ", "3gp4", "3gp5", "3gp6", "3gp7", "3gp8", "3gp9", "3g2a",
                              "qt  "})
        cases.push_back({"Major_" + name_of(brand), {mp4b::ftyp(brand, 0, {})}, true});
    // Image formats of the same box structure.
    for (const char* brand : {"heic", "mif1", "jp2 "})
        cases.push_back({"Only_" + name_of(brand), {mp4b::ftyp(brand, 0, {brand})}, false});
    cases.push_back({"NoFtyp", {}, false});
    cases.push_back({"FamilyAmongCompatible", {mp4b::ftyp("heic", 0, {"mif1", "cmfc"})}, true});
    cases.push_back({"MinorVersionIsNotABrand", {mp4b::ftyp("heic", mp4b::fourcc_of("isom"), {})}, false});
    cases.push_back({"EmptyPayload", {ftyp_payload({})}, false});
    cases.push_back({"PayloadOfSevenBytes", {ftyp_payload(text(std::string("isom\0\0\0", 7)))}, false});
    cases.push_back({"PayloadOfEightBytes", {ftyp_payload(text(std::string("isom\0\0\0\0", 8)))}, true});
    {
        // Only the first 512 payload bytes are read: 126 compatible brands.
        std::vector<std::string> brands(125, "heic");
        brands.push_back("isom");
        cases.push_back({"IsomAs126thCompatible", {mp4b::ftyp("heic", 0, brands)}, true});
        brands.insert(brands.begin(), "heic");
        cases.push_back({"IsomAs127thCompatible", {mp4b::ftyp("heic", 0, brands)}, false});
    }
    return cases;
}

void PrintTo(const BrandCase& c, std::ostream* os) { *os << c.name; }

class Brand : public ::testing::TestWithParam<BrandCase> {};

TEST_P(Brand, Verdict) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    std::vector<Atom> atoms = GetParam().ftyp;
    const uint64_t ftyp_size = atoms.empty() ? 0 : atoms.front().real_size();
    atoms.push_back(frag_moov());
    atoms.push_back(e2e::mdat(40));
    mp4b::write_file(path, atoms);
    const std::string refusal =
        GetParam().ftyp.empty() ? "Warning: Quicktime file without ftyp atom\n" + std::string(kNotMp4) : kNotMp4;
    // The mvex is the moov's first child.
    e2e::expect_refused(path, {}, GetParam().passes ? not_fragmented(0, ftyp_size + 16) : refusal);
}

INSTANTIATE_TEST_SUITE_P(Ftyp, Brand, ::testing::ValuesIn(brand_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// After the relocation the fragments lie inside the new mdat: the file is no
// longer a fragmented MP4 file, and the moov left at the end is found after it.
TEST(TopLevel, RelocatedFileIsNotConvertedAgain) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, e2e::fragmented_file(400, e2e::two_fragments()));
    const uint64_t size = tool::file_size(path);
    ASSERT_EQ(tool::run(e2e::with_file({"--dbg-move-moov"}, path)).status, 0);
    for (const std::vector<std::string>& switches :
         {std::vector<std::string>{}, std::vector<std::string>{"--dbg-move-moov"}}) {
        e2e::expect_refused(path, switches, not_fragmented(0, size + 16));
    }
}

}  // namespace
