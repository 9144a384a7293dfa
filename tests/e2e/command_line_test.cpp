// The command line and start-up: switch parsing, the usage text, and the
// checks on the named file before any job runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_helpers.h"

namespace {

using e2e::Atom;

const char kUsage[] =
    "morvak_fragflat [options]\n"
    " -h --help                   Show help\n"
    " -f <MP4 file>               File to convert\n"
    " --undo                      Reverse conversion\n";
// A plain (unfragmented) file: reaching the scan's verdict shows that the
// switches were accepted and the file was opened.
const char kScanVerdict[] = "Not a fragmented MP4 file\nmoof @ 0\nmvex @ 0\n";

void write_plain(const std::string& path) {
    mp4b::write_file(path, {e2e::isom_ftyp(), mp4b::moov_with_payload(200, false), e2e::mdat(40)});
}

struct SwitchCase {
    const char* name;
    std::vector<std::string> args;  // "FILE" stands for the plain file, "MISSING" for a missing one
    int status;
    std::string err;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class Switches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(Switches, StatusAndMessage) {
    const SwitchCase& c = GetParam();
    tool::TempDir dir;
    const std::string file = dir.file("plain.mp4");
    write_plain(file);
    std::vector<std::string> args;
    for (const std::string& a : c.args) {
        if (a == "FILE") {
            args.push_back(file);
        } else if (a == "MISSING") {
            args.push_back(dir.file("missing.mp4"));
        } else {
            args.push_back(a);
        }
    }
    const tool::Bytes before = tool::read_file(file);
    const tool::Result r = tool::run(args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(e2e::difference(before, tool::read_file(file)), "");
}

const SwitchCase kSwitchCases[] = {
    {"NoArguments", {}, 1, "You must specify a file\n"},
    {"EmptyName", {"-f", ""}, 1, "You must specify a file\n"},
    {"OneDashH", {"-h"}, 1, kUsage},
    {"TwoDashesH", {"--h"}, 1, kUsage},
    {"ThreeDashesH", {"---h"}, 1, kUsage},
    {"OneDashHelp", {"-help"}, 1, kUsage},
    {"TwoDashesHelp", {"--help"}, 1, kUsage},
    {"ThreeDashesHelp", {"---help"}, 1, kUsage},
    {"HelpAfterValidFile", {"-f", "FILE", "--help"}, 1, kUsage},
    {"HelpStopsBeforeLaterArguments", {"-h", "stray", "--bogus"}, 1, kUsage},
    {"FLast", {"-f"}, 1, ""},
    {"FLastAfterUndo", {"--undo", "-f"}, 1, ""},
    {"FLastAfterValidFile", {"-f", "FILE", "-f"}, 1, ""},
    {"FirstArgumentWithoutDash", {"plain.mp4"}, 1, "Unexpected arg 'plain.mp4'\n"},
    {"BareF", {"f", "FILE"}, 1, "Unexpected arg 'f'\n"},
    {"ExtraArgumentAfterFile", {"-f", "FILE", "extra"}, 1, "Unexpected arg 'extra'\n"},
    {"UndoInCapitals", {"--UNDO", "-f", "FILE"}, 1, "Unexpected switch 'UNDO'\n"},
    {"CapitalF", {"-F", "FILE"}, 1, "Unexpected switch 'F'\n"},
    {"FWithSuffix", {"--fx", "FILE"}, 1, "Unexpected switch 'fx'\n"},
    {"LoneDash", {"-"}, 1, "Unexpected switch ''\n"},
    {"TwoDashesOnly", {"--", "-f", "FILE"}, 1, "Unexpected switch ''\n"},
    {"ValueWithEquals", {"--undo=1", "-f", "FILE"}, 1, "Unexpected switch 'undo=1'\n"},
    {"Abbreviation", {"--hel"}, 1, "Unexpected switch 'hel'\n"},
    {"UnknownSwitchAfterFile", {"-f", "FILE", "--nope"}, 1, "Unexpected switch 'nope'\n"},
    {"DebugWordWithSuffix", {"--dbg-force-co64x", "-f", "FILE"}, 1,
     "Unexpected switch 'dbg-force-co64x'\n"},
    {"ThreeDashesF", {"---f", "FILE"}, 1, kScanVerdict},
    {"LaterFReplacesEarlier", {"-f", "MISSING", "-f", "FILE"}, 1, kScanVerdict},
    {"RepeatedFlag", {"--undo", "--undo", "-f", "FILE"}, 1, "Not enough information to undo\n"},
    {"DebugWordsAccepted",
     {"--dbg-force-tkhd-v1", "--dbg-force-mdhd-v1", "--dbg-force-mvhd-v1", "--dbg-force-co64",
      "--dbg-force-mdat64", "-dbg-move-moov", "-f", "FILE"},
     1,
     kScanVerdict},
};

INSTANTIATE_TEST_SUITE_P(CommandLine, Switches, ::testing::ValuesIn(kSwitchCases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(CommandLine, FileNameBeginningWithDashIsTakenAsName) {
    tool::TempDir dir;
    write_plain(dir.file("-plain.mp4"));
    const tool::Result r = tool::run({"-f", "-plain.mp4"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, kScanVerdict);
}

// Everything that is not a regular file is refused before it is opened.
TEST(CommandLine, NotARegularFile) {
    tool::TempDir dir;
    const std::string target = dir.file("plain.mp4");
    write_plain(target);
    const std::string link = dir.file("link.mp4");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    const std::string subdir = dir.file("sub.mp4");
    ASSERT_EQ(::mkdir(subdir.c_str(), 0755), 0);
    const std::string fifo = dir.file("fifo.mp4");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);

    for (const std::vector<std::string>& switches : {std::vector<std::string>{},
                                                     std::vector<std::string>{"--undo"}}) {
        for (const std::string& name : {dir.file("missing.mp4"), subdir, link, fifo,
                                        std::string("/dev/null")}) {
            SCOPED_TRACE(name + (switches.empty() ? "" : " --undo"));
            const tool::Result r = tool::run(e2e::with_file(switches, name));
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.err, "Not a file\n");
            EXPECT_EQ(r.out, "");
        }
    }
}

}  // namespace
