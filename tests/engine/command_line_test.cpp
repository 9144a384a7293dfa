// The command line and the start-up checks on the named file, one run of the
// tool per row, dry runs among them (none changes a file's bytes or times);
// and the driver's lines with values.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bin/messages.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

const char kUsage[] = "morvak_fragflat [options]\n -h --help                   Show help\n"
                      " -f <MP4 file>               File to convert\n --undo                      Reverse conversion\n"
                      " -n --dry-run                Check and report, write nothing\n";
// The file is a plain MP4 file: the scan's verdict shows it was read.
const char kPlain[] = "Not a fragmented MP4 file\nmoof @ 0\nmvex @ 0\n";

TEST(CommandLine, StatusAndLines) {
    const tool::TempDir dir;
    const std::string file = dir.file("plain.mp4"), link = dir.file("link.mp4");
    mp4b::write_file(file, {mp4b::ftyp("isom", 0, {}), mp4b::moov_with_payload(200, false), mp4b::raw("mdat")});
    // An image file (another brand, with an ftyp); a fragmented file whose moov has no room for the undo record.
    const std::string still = dir.file("still.heic"), tiny = dir.file("tiny.mp4");
    mp4b::write_file(still, {mp4b::ftyp("heic", 0, {"mif1"}), mp4b::moov_with_payload(200, true), mp4b::raw("mdat")});
    mp4b::write_file(tiny, {mp4b::ftyp("isom", 0, {}), mp4b::moov_with_payload(40, true), mp4b::raw("moof"),
                            mp4b::raw("mdat")});
    ASSERT_EQ(symlink(file.c_str(), link.c_str()), 0);
    // A recording, and one converted: what a dry run says of each.
    const std::string frag = tool::copy_fixture("sample.mp4", dir), converted = dir.file("converted.mp4");
    tool::copy_file(frag, converted);
    ASSERT_EQ(tool::run({"-f", converted}).status, 0);
    const auto state = [&] {
        std::vector<std::pair<tool::Bytes, std::string>> files;
        for (const std::string& f : {file, frag, converted}) {
            struct stat st {};
            stat(f.c_str(), &st);
            files.push_back({tool::read_file(f), std::to_string(st.st_mtim.tv_nsec) + " " + std::to_string(st.st_ctim.tv_nsec)});
        }
        return files;
    };
    const auto before = state();
    const struct { std::vector<std::string> args; int status; std::string out, err; } rows[] = {
        {{}, 1, "", "You must specify a file\n"},
        {{"-h"}, 1, "", kUsage},
        {{"-f", file, "---help", "--bogus"}, 1, "", kUsage},
        {{"--undo", "-f"}, 1, "", ""},
        {{"-f", file, "extra"}, 1, "", "Unexpected arg 'extra'\n"},
        {{"--fx", file}, 1, "", "Unexpected switch 'fx'\n"},
        {{"---f", file}, 1, "", kPlain},
        {{"--dbg-force-tkhd-v1", "--dbg-force-mdhd-v1", "--dbg-force-mvhd-v1", "--dbg-force-co64",
          "--dbg-force-mdat64", "-dbg-move-moov", "-f", dir.file("missing.mp4"), "-f", file},
         1, "", kPlain},
        {{"-f", still}, 1, "", "Not an MP4 file\n"},
        {{"-f", tiny}, 1, "", "moov atom is too small for the undo record\n"},
        {{"-f", dir.file("missing.mp4")}, 1, "", "Not a file\n"},
        {{"--undo", "-f", dir.path()}, 1, "", "Not a file\n"},
        {{"-f", link}, 1, "", "Not a file\n"},
        {{"--version"}, 0, "morvak_fragflat ", ""},
        {{"-n", "-f", frag}, 0, "would convert: 2 tracks, 78 samples in 2 fragments, appends 2,986 bytes\n", ""},
        {{"--dry-run", "-f", converted}, 1, "", kPlain},
        {{"--undo", "--dry-run", "-f", converted}, 0, "would restore the original (29,594 bytes)\n", ""},
        {{"-n", "--undo", "-f", frag}, 1, "", "Not enough information to undo\n"},
        {{"-n", "-f", still}, 1, "", "Not an MP4 file\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        const tool::Result r = tool::run(row.args);
        EXPECT_EQ(r.status, row.status);
        EXPECT_EQ(r.err, row.err);
        EXPECT_EQ(r.out.substr(0, row.out.size()), row.out);  // the version's number follows
        EXPECT_EQ(r.out.empty(), row.out.empty());
    }
    EXPECT_TRUE(state() == before) << "a file's bytes or times changed";
    // What the dry run said it would append, the conversion appends.
    ASSERT_EQ(tool::run({"-f", frag}).status, 0);
    EXPECT_EQ(tool::file_size(frag), 29594u + 2986u);
    // The lines with values, in their order.
    ::testing::internal::CaptureStderr();
    say_outcome({Msg::omov_mismatch, 36, 28});
    say_outcome({Msg::omdt_mismatch, 300, 244});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "OMOV offset value 36 != TOLV offset 28\nOMDT offset value 300 != mdat data area offset 244\n");
}

}  // namespace
