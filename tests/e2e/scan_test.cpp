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
    cases.push_back({"NoFtyp",
                     {frag_moov(), e2e::mdat(40), mp4b::moof(1, 1, 0, 1, 40)},
                     "Warning: Quicktime file without ftyp atom\nNot an MP4 file\n"});
    cases.push_back({"FirstFtypCounts",
                     {mp4b::ftyp("mp42", 0, {"mp42"}), e2e::isom_ftyp(), frag_moov(), e2e::mdat(40),
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

// Brand test. A file that passes it goes on to be refused as not fragmented
// (it has no moof), which shows where the verdict was reached.
struct BrandCase {
    std::string name;
    Atom ftyp;
    bool passes;
};

Atom ftyp_payload(Bytes payload) { return mp4b::raw("ftyp", std::move(payload)); }

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::vector<BrandCase> brand_cases() {
    std::vector<BrandCase> cases;
    for (const char* brand : {"isom", "mp41", "iso2", "iso6"})
        cases.push_back({std::string("Major_") + brand, mp4b::ftyp(brand, 0, {}), true});
    for (const char* brand : {"mp42", "iso4", "iso5", "avc1", "3gp4"})
        cases.push_back({std::string("Major_") + brand, mp4b::ftyp(brand, 0, {}), false});
    cases.push_back({"QuickTimeMajorWithIsomCompatible", mp4b::ftyp("qt  ", 0x200, {"qt  ", "isom"}), true});
    cases.push_back({"QuickTimeOnly", mp4b::ftyp("qt  ", 0x200, {"qt  "}), false});
    cases.push_back({"Mp42Only", mp4b::ftyp("mp42", 0, {"mp42"}), false});
    cases.push_back({"Iso6AmongCompatible", mp4b::ftyp("mp42", 0, {"mp42", "avc1", "iso6"}), true});
    cases.push_back({"MinorVersionIsNotABrand", mp4b::ftyp("mp42", mp4b::fourcc_of("isom"), {}), false});
    cases.push_back({"EmptyPayload", ftyp_payload({}), false});
    cases.push_back({"PayloadOfSevenBytes", ftyp_payload(text(std::string("isom\0\0\0", 7))), false});
    cases.push_back({"PayloadOfEightBytes", ftyp_payload(text(std::string("isom\0\0\0\0", 8))), true});
    {
        // Only the first 512 payload bytes are read: 126 compatible brands.
        std::vector<std::string> brands(125, "mp42");
        brands.push_back("isom");
        cases.push_back({"IsomAs126thCompatible", mp4b::ftyp("mp42", 0, brands), true});
        brands.insert(brands.begin(), "mp42");
        cases.push_back({"IsomAs127thCompatible", mp4b::ftyp("mp42", 0, brands), false});
    }
    return cases;
}

void PrintTo(const BrandCase& c, std::ostream* os) { *os << c.name; }

class Brand : public ::testing::TestWithParam<BrandCase> {};

TEST_P(Brand, Verdict) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    const Atom& ftyp = GetParam().ftyp;
    mp4b::write_file(path, {ftyp, frag_moov(), e2e::mdat(40)});
    // The mvex is the moov's first child.
    const uint64_t mvex_at = ftyp.real_size() + 16;
    e2e::expect_refused(path, {}, GetParam().passes ? not_fragmented(0, mvex_at) : kNotMp4);
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
