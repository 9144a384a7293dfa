// The in-place relocation in its debug mode (--dbg-move-moov): the exact
// layout it leaves, the undo back to the original bytes, and the limits that
// refuse a file before anything is written.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_helpers.h"

namespace {

using e2e::Atom;

const char kTooLarge[] = "moov atom is too large\n";
const char kTooSmall[] = "moov atom is too small for the undo record\n";

// Converts in the debug mode, checks the layout, undoes, and checks that the
// original bytes are back and that a second undo finds nothing to undo.
void expect_round_trip(const std::string& path, const std::vector<std::string>& switches, uint64_t H) {
    const tool::Bytes original = tool::read_file(path);
    const e2e::Original o = e2e::describe(path);

    const tool::Result forward = tool::run(e2e::with_file(switches, path));
    ASSERT_EQ(forward.status, 0) << forward.err;
    EXPECT_EQ(forward.err, e2e::kDebugDone);
    EXPECT_EQ(forward.out, "");
    e2e::expect_debug_layout(path, o, H, original);

    const tool::Result undo = tool::run(e2e::with_file({"--undo"}, path));
    EXPECT_EQ(undo.status, 0);
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(undo.out, "");
    EXPECT_EQ(e2e::difference(original, tool::read_file(path)), "") << "after the undo";

    e2e::expect_refused(path, {"--undo"}, "Not enough information to undo\n");
}

struct LayoutCase {
    std::string name;
    std::vector<Atom> atoms;
};

Atom large(Atom a) { return std::move(a.make_large()); }
Atom claiming_more(Atom a, uint64_t extra) {
    a.force_size(a.real_size() + extra);
    return a;
}
Atom size_zero(Atom a) { return std::move(a.size_zero()); }

std::vector<LayoutCase> layout_cases() {
    using mp4b::moof;
    std::vector<LayoutCase> cases;
    cases.push_back({"MoovThenMdat",
                     e2e::fragmented_file(400, {e2e::mdat(64), moof(1, 1, 0, 3, 20), e2e::mdat(60)})});
    cases.push_back({"MoovThenMoof", e2e::fragmented_file(400, e2e::two_fragments())});
    // An empty mdat (size field 8) still makes a header to restore before.
    cases.push_back({"FirstMdatEmpty",
                     e2e::fragmented_file(400, {e2e::mdat(0), moof(1, 1, 0, 3, 20), e2e::mdat(60)})});
    cases.push_back({"FirstMdatWithLargeHeader",
                     e2e::fragmented_file(400, {large(e2e::mdat(64)), moof(1, 1, 0, 3, 20), e2e::mdat(60)})});
    cases.push_back({"LargeMoofAndMdat",
                     e2e::fragmented_file(400, {large(moof(1, 1, 0, 3, 20)), large(e2e::mdat(60)),
                                                large(moof(2, 1, 3000, 3, 20)), large(e2e::mdat(60))})});
    cases.push_back({"LastMdatOfSizeZero",
                     e2e::fragmented_file(400, {moof(1, 1, 0, 3, 20), size_zero(e2e::mdat(60))})});
    cases.push_back({"LastMdatCutShort",
                     e2e::fragmented_file(400, {moof(1, 1, 0, 3, 20), claiming_more(e2e::mdat(60), 5000)})});
    // A moof cut short still counts as the file's first moof.
    cases.push_back({"OnlyMoofCutShort",
                     e2e::fragmented_file(400, {e2e::mdat(60), claiming_more(moof(1, 1, 0, 3, 20), 1)})});
    {
        std::vector<Atom> atoms{e2e::isom_ftyp(), large(mp4b::raw_of_size("free", 20)),
                                mp4b::moov_with_payload(400, true)};
        for (Atom& a : e2e::two_fragments()) atoms.push_back(std::move(a));
        cases.push_back({"LargeFreeBeforeMoov", std::move(atoms)});
    }
    cases.push_back({"SecondMoovLeftAlone",
                     e2e::fragmented_file(400, {mp4b::moov_with_payload(300, true), moof(1, 1, 0, 3, 20),
                                                e2e::mdat(60)})});
    {
        Atom moov = mp4b::movie({mp4b::minimal_track(1, "vide", 15360)}, true);
        moov.children.push_back(mp4b::raw_of_size("free", 200));
        std::vector<Atom> atoms{e2e::isom_ftyp(), moov};
        for (Atom& a : e2e::two_fragments()) atoms.push_back(std::move(a));
        cases.push_back({"MoovWithTrack", std::move(atoms)});
    }
    return cases;
}

// Failures name the case instead of dumping its bytes.
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class Relocation : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Relocation, EightByteMdatHeader) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, GetParam().atoms);
    expect_round_trip(path, {"--dbg-move-moov"}, 8);
}

TEST_P(Relocation, ForcedSixteenByteMdatHeader) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, GetParam().atoms);
    expect_round_trip(path, {"--dbg-force-mdat64", "--dbg-move-moov"}, 16);
}

INSTANTIATE_TEST_SUITE_P(Synthetic, Relocation, ::testing::ValuesIn(layout_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// The switches that only shape the new movie atom leave the relocation as it is.
TEST(Relocation, MovieDebugSwitchesDoNotChangeTheLayout) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, e2e::fragmented_file(400, e2e::two_fragments()));
    expect_round_trip(path,
                      {"--dbg-force-tkhd-v1", "--dbg-force-mdhd-v1", "--dbg-force-mvhd-v1",
                       "--dbg-force-co64", "--dbg-move-moov"},
                      8);
}

TEST(MoovLimits, LargestPayloadAccepted) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, e2e::fragmented_file(16777216, e2e::two_fragments()));
    expect_round_trip(path, {"--dbg-move-moov"}, 8);
}

struct RefusalCase {
    std::string name;
    std::vector<Atom> atoms;
    std::vector<std::string> switches;
    std::string err;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

// Every refusal holds in the normal mode as in the debug mode.
TEST_P(Refusal, FileUnchanged) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, GetParam().atoms);
    for (const char* mode : {"", "--dbg-move-moov"}) {
        SCOPED_TRACE(*mode ? mode : "normal mode");
        std::vector<std::string> switches = GetParam().switches;
        if (*mode) switches.push_back(mode);
        e2e::expect_refused(path, switches, GetParam().err);
    }
}

std::vector<RefusalCase> limit_cases() {
    std::vector<RefusalCase> cases;
    cases.push_back({"PayloadOneByteTooLarge", e2e::fragmented_file(16777217, e2e::two_fragments()), {},
                     kTooLarge});
    {
        std::vector<Atom> atoms = e2e::fragmented_file(400, e2e::two_fragments());
        atoms[1].make_large();
        cases.push_back({"MoovWithLargeHeader", std::move(atoms), {}, kTooLarge});
    }
    cases.push_back({"MoovAfterMdat",
                     {e2e::isom_ftyp(), e2e::mdat(40), mp4b::moov_with_payload(400, true),
                      mp4b::moof(1, 1, 0, 3, 20), e2e::mdat(60)},
                     {},
                     "moov overlaps mdat\n"});
    {
        // The last atom, a moov cut short: its payload cannot be read whole.
        Atom moov = mp4b::moov_with_payload(400, true);
        moov.force_size(moov.real_size() + 100);
        cases.push_back({"MoovCutShort",
                         {e2e::isom_ftyp(), e2e::mdat(40), mp4b::moof(1, 1, 0, 3, 20), e2e::mdat(60), moov},
                         {},
                         "Failed to read moov atom\n"});
    }
    cases.push_back({"MoovOfOnlyAnEmptyMvex", e2e::fragmented_file(8, e2e::two_fragments()), {}, kTooSmall});
    cases.push_back({"MoovShorterThanLargeMdatHeader", e2e::fragmented_file(12, e2e::two_fragments()),
                     {"--dbg-force-mdat64"}, kTooSmall});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(MoovLimits, Refusal, ::testing::ValuesIn(limit_cases()),
                         [](const auto& param_info) { return param_info.param.name; });

// The undo record needs N - H >= L + 76 payload bytes of the old moov; the
// room is checked before the first write.
TEST(MoovLimits, RoomForUndoRecord) {
    const uint64_t L = e2e::version_text_length();
    ASSERT_GT(L, 0u) << "could not learn the version text's length";
    struct Row {
        uint64_t payload;
        std::vector<std::string> switches;
        uint64_t H;
    };
    const Row fits[] = {{L + 84, {}, 8}, {L + 92, {"--dbg-force-mdat64"}, 16}};
    for (const Row& row : fits) {
        SCOPED_TRACE("payload " + std::to_string(row.payload) + " with H " + std::to_string(row.H));
        tool::TempDir dir;
        const std::string path = dir.file("in.mp4");
        mp4b::write_file(path, e2e::fragmented_file(row.payload, e2e::two_fragments()));
        std::vector<std::string> switches = row.switches;
        switches.push_back("--dbg-move-moov");
        expect_round_trip(path, switches, row.H);

        mp4b::write_file(path, e2e::fragmented_file(row.payload - 1, e2e::two_fragments()));
        e2e::expect_refused(path, row.switches, kTooSmall);
        e2e::expect_refused(path, switches, kTooSmall);
    }
}

}  // namespace
