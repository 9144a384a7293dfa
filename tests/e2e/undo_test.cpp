// The undo's refusals: a relocated file damaged in one place of its undo
// record or its layout is refused with the message of the check that fails,
// and left exactly as it was.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_helpers.h"

namespace {

using e2e::Relocated;

struct Damage {
    std::string name;
    std::function<void(const std::string& path, const Relocated& r)> apply;
    // The expected message, given the offsets.
    std::function<std::string(const Relocated& r)> err;
};

std::function<std::string(const Relocated&)> says(std::string text) {
    return [text](const Relocated&) { return text; };
}

const char kNoInfo[] = "Not enough information to undo\n";
const char kInsufficient[] = "Insufficient information to restore file\n";
const char kPastSize[] = "mdat atom extends past original file size\n";
const char kNotBeyond[] = "relocated moov atom should have been placed beyond original file size\n";
const char kBadMdat[] = "OMDT offset does not point at original mdat atom\n";
const char kBadMoov[] = "OMOV offset does not point at original moov atom\n";

std::string omdt_mismatch(uint64_t omdt, const Relocated& r) {
    return "OMDT offset value " + std::to_string(omdt) + " != mdat data area offset " +
           std::to_string(r.P() + r.H) + "\n";
}

std::vector<Damage> damages() {
    using namespace e2e;
    std::vector<Damage> d;
    // The top-level scan and the record.
    d.push_back({"NoTolv", [](auto& p, auto& r) { put_type_at(p, r.M + 4, "free"); }, says(kNoInfo)});
    d.push_back({"NoMoovLeft", [](auto& p, auto& r) { EXPECT_EQ(::truncate(p.c_str(), off_t(r.S)), 0); },
                 says(kNoInfo)});
    d.push_back({"NoOrig", [](auto& p, auto& r) { put_type_at(p, r.orig_at() + 4, "ORIX"); },
                 says("TOLV+ORIG atom not found\n")});
    d.push_back({"OfszZero", [](auto& p, auto& r) { put_u64_at(p, r.ofsz_value_at(), 0); }, says(kInsufficient)});
    d.push_back({"OmdtZero", [](auto& p, auto& r) { put_u64_at(p, r.omdt_value_at(), 0); }, says(kInsufficient)});
    d.push_back({"OmovMoovZero", [](auto& p, auto& r) { put_u64_at(p, r.omov_moov_at(), 0); },
                 says(kInsufficient)});
    d.push_back({"OmovSavedZero", [](auto& p, auto& r) { put_u64_at(p, r.omov_saved_at(), 0); },
                 says(kInsufficient)});
    d.push_back({"OmdtRenamed", [](auto& p, auto& r) { put_type_at(p, r.orig_at() + 28, "OMDX"); },
                 says(kInsufficient)});
    // An OMOV too short for its two values is passed over.
    d.push_back({"OmovTooShort", [](auto& p, auto& r) { put_u32_at(p, r.orig_at() + 40, 16); },
                 says(kInsufficient)});
    // The record must name the in-place atom.
    d.push_back({"OmovNotAtTolv", [](auto& p, auto& r) { put_u64_at(p, r.omov_moov_at(), r.M + 1); },
                 [](const Relocated& r) {
                     return "OMOV offset value " + std::to_string(r.M + 1) + " != TOLV offset " +
                            std::to_string(r.M) + "\n";
                 }});
    // The original mdat must lie inside the new mdat's payload.
    d.push_back({"OmdtAtNewMdatHeader", [](auto& p, auto& r) { put_u64_at(p, r.omdt_value_at(), r.P()); },
                 [](const Relocated& r) { return omdt_mismatch(r.P(), r); }});
    d.push_back({"OmdtJustBeforeNewMdatData",
                 [](auto& p, auto& r) { put_u64_at(p, r.omdt_value_at(), r.P() + r.H - 1); },
                 [](const Relocated& r) { return omdt_mismatch(r.P() + r.H - 1, r); }});
    d.push_back({"OmdtAtOriginalSize", [](auto& p, auto& r) { put_u64_at(p, r.omdt_value_at(), r.S); },
                 [](const Relocated& r) { return omdt_mismatch(r.S, r); }});
    // The new mdat must end at the original size, the saved copy after it.
    d.push_back({"OfszOneShort", [](auto& p, auto& r) { put_u64_at(p, r.ofsz_value_at(), r.S - 1); },
                 says(kPastSize)});
    d.push_back({"OfszOneLong", [](auto& p, auto& r) { put_u64_at(p, r.ofsz_value_at(), r.S + 1); },
                 says(kNotBeyond)});
    d.push_back({"SavedCopyInsideMdat", [](auto& p, auto& r) { put_u64_at(p, r.omov_saved_at(), r.S - 1); },
                 says(kNotBeyond)});
    // A free atom squeezed between the in-place atom and the new mdat.
    d.push_back({"GapAfterTolv",
                 [](auto& p, auto& r) {
                     put_u32_at(p, r.M, static_cast<uint32_t>(r.P() - r.M - 8));
                     put_u32_at(p, r.P() - 8, 8);
                     put_type_at(p, r.P() - 4, "free");
                 },
                 says("'mdat' must immediately 'TOLV'\n")});
    // The original mdat header must still stand at the OMDT offset.
    d.push_back({"OriginalMdatRenamed",
                 [](auto& p, auto& r) { put_type_at(p, u64_at(p, r.omdt_value_at()) + 4, "mdaX"); },
                 says(kBadMdat)});
    d.push_back({"OriginalMdatSizeBelowHeader",
                 [](auto& p, auto& r) { put_u32_at(p, u64_at(p, r.omdt_value_at()), 7); }, says(kBadMdat)});
    d.push_back({"OriginalMdatLargeSizeBelowHeader",
                 [](auto& p, auto& r) {
                     const uint64_t at = u64_at(p, r.omdt_value_at());
                     put_u32_at(p, at, 1);
                     put_u64_at(p, at + 8, 15);
                 },
                 says(kBadMdat)});
    d.push_back({"OmdtInsideMdatPayload", [](auto& p, auto& r) { put_u64_at(p, r.omdt_value_at(), r.S - 1); },
                 says(kBadMdat)});
    // The saved copy's moov header must stand at the second OMOV offset.
    d.push_back({"SavedCopyAtEndOfFile",
                 [](auto& p, auto& r) { put_u64_at(p, r.omov_saved_at(), r.S + r.N + 8); }, says(kBadMoov)});
    d.push_back({"SavedCopyOffByOne", [](auto& p, auto& r) { put_u64_at(p, r.omov_saved_at(), r.S + 1); },
                 says(kBadMoov)});
    d.push_back({"SavedCopyHeaderOnly", [](auto& p, auto& r) { put_u32_at(p, r.S, 8); }, says(kBadMoov)});
    d.push_back({"SavedCopyRenamedWithAnotherMoovAfter",
                 [](auto& p, auto& r) {
                     tool::write_range(p, r.S + r.N + 8, tool::read_range(p, r.S, r.N + 8));
                     put_type_at(p, r.S + 4, "moox");
                 },
                 says(kBadMoov)});
    // The saved copy claims more than the file holds.
    d.push_back({"SavedCopyCutShort", [](auto& p, auto& r) { put_u32_at(p, r.S, uint32_t(r.N + 8 + 100)); },
                 says("Cannot read original moov atom\n")});
    // The saved copy no longer fills the in-place atom up to the new mdat.
    d.push_back({"SavedCopyShorter", [](auto& p, auto& r) { put_u32_at(p, r.S, uint32_t(r.N + 8 - 4)); },
                 says("'TOLV' atom (if replaced by original moov atom) does not fit right up to 'mdat' atom\n")});
    return d;
}

// Failures name the case instead of dumping its bytes.
void PrintTo(const Damage& c, std::ostream* os) { *os << c.name; }

class UndoRefusal : public ::testing::TestWithParam<Damage> {};

// From a file relocated with the given switches, so that both header forms
// of the new mdat meet every check.
void check_refusal(const Damage& damage, const std::vector<std::string>& switches, uint64_t H) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    // The original mdat directly follows the moov; room is left in the
    // in-place atom for the squeezed-in free atom.
    mp4b::write_file(path, e2e::fragmented_file(1000, {e2e::mdat(64), mp4b::moof(1, 1, 0, 3, 20),
                                                       e2e::mdat(60)}));
    const e2e::Original o = e2e::describe(path);
    const tool::Bytes original = tool::read_file(path);
    const tool::Result forward = tool::run(e2e::with_file(switches, path));
    ASSERT_EQ(forward.status, 0) << forward.err;
    const Relocated r = e2e::expect_debug_layout(path, o, H, original);
    ASSERT_GE(r.P() - 8, r.final_zero_at() + 4) << "no room left after the record";

    damage.apply(path, r);
    e2e::expect_refused(path, {"--undo"}, damage.err(r));
}

TEST_P(UndoRefusal, EightByteMdatHeader) { check_refusal(GetParam(), {"--dbg-move-moov"}, 8); }

TEST_P(UndoRefusal, SixteenByteMdatHeader) {
    check_refusal(GetParam(), {"--dbg-force-mdat64", "--dbg-move-moov"}, 16);
}

INSTANTIATE_TEST_SUITE_P(Damaged, UndoRefusal, ::testing::ValuesIn(damages()),
                         [](const auto& param_info) { return param_info.param.name; });

TEST(Undo, NeverConvertedFile) {
    tool::TempDir dir;
    const std::string path = dir.file("in.mp4");
    mp4b::write_file(path, e2e::fragmented_file(400, e2e::two_fragments()));
    e2e::expect_refused(path, {"--undo"}, kNoInfo);
    // Switches meant for the forward conversion change nothing in an undo.
    e2e::expect_refused(path, {"--undo", "--dbg-move-moov", "--dbg-force-mdat64"}, kNoInfo);
}

TEST(Undo, EmptyFile) {
    tool::TempDir dir;
    const std::string path = dir.file("empty.mp4");
    mp4b::write_file(path, {});
    e2e::expect_refused(path, {"--undo"}, kNoInfo);
}

}  // namespace
