// Every real file in the test data, relocated in the debug mode and undone:
// the layout is exact and the undo gives back the original bytes, whatever
// follows the moov in the file (a plain mdat, a moof, styp and sidx boxes).
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "tests/e2e/e2e_helpers.h"

namespace {

class RealFile : public ::testing::TestWithParam<std::string> {};

TEST_P(RealFile, RelocateThenUndo) {
    tool::TempDir dir;
    const std::string path = tool::copy_fixture(GetParam(), dir);
    const tool::Bytes original = tool::read_file(path);
    const e2e::Original o = e2e::describe(path);

    for (const bool large_header : {false, true}) {
        SCOPED_TRACE(large_header ? "16-byte mdat header" : "8-byte mdat header");
        const tool::Result forward = tool::run(e2e::with_file(
            large_header ? std::vector<std::string>{"--dbg-force-mdat64", "--dbg-move-moov"}
                         : std::vector<std::string>{"--dbg-move-moov"},
            path));
        ASSERT_EQ(forward.status, 0) << forward.err;
        EXPECT_EQ(forward.err, e2e::kDebugDone);
        e2e::expect_debug_layout(path, o, large_header ? 16 : 8, original);

        const tool::Result undo = tool::run(e2e::with_file({"--undo"}, path));
        EXPECT_EQ(undo.status, 0);
        EXPECT_EQ(undo.err, "");
        ASSERT_EQ(e2e::difference(original, tool::read_file(path)), "") << "after the undo";
    }
    e2e::expect_refused(path, {"--undo"}, "Not enough information to undo\n");
}

INSTANTIATE_TEST_SUITE_P(TestData, RealFile, ::testing::ValuesIn(tool::test_data_files(".mp4")),
                         [](const auto& param_info) {
                             std::string name = param_info.param.substr(0, param_info.param.size() - 4);
                             for (char& ch : name)
                                 if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

}  // namespace
