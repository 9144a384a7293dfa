// The new mdat header takes its 16-byte form exactly when the original file
// is larger than 2,147,418,111 bytes. The files here are that large but
// sparse: only their first few hundred bytes are written, the last mdat's
// payload is a hole, and the test never reads it.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/e2e_helpers.h"

namespace {

using e2e::Atom;

constexpr uint64_t kLargestWithShortHeader = 2147418111;  // 0x7FFEFFFF

struct BoundaryCase {
    const char* name;
    uint64_t size;
    uint64_t H;
};

// Failures name the case instead of dumping its bytes.
void PrintTo(const BoundaryCase& c, std::ostream* os) { *os << c.name; }

class MdatBoundary : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(MdatBoundary, HeaderFormAndUndo) {
    const BoundaryCase& c = GetParam();
    tool::TempDir dir;
    const std::string path = dir.file("big.mp4");

    // ftyp, moov, moof, then an mdat whose declared size reaches the wanted
    // file size; ftruncate leaves its payload as a hole.
    std::vector<Atom> atoms = e2e::fragmented_file(400, {mp4b::moof(1, 1, 0, 3, 20)});
    uint64_t written = 0;
    for (const Atom& a : atoms) written += a.real_size();
    atoms.push_back(e2e::mdat(0).force_size(c.size - written));
    mp4b::write_file(path, atoms, c.size);
    const tool::Bytes head = tool::read_range(path, 0, written + 8);
    ASSERT_EQ(tool::file_size(path), c.size);

    const e2e::Original o = e2e::describe(path);
    const tool::Result forward = tool::run(e2e::with_file({"--dbg-move-moov"}, path));
    ASSERT_EQ(forward.status, 0) << forward.err;
    EXPECT_EQ(forward.err, e2e::kDebugDone);
    e2e::expect_debug_layout(path, o, c.H, head);

    const tool::Result undo = tool::run(e2e::with_file({"--undo"}, path));
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(tool::file_size(path), c.size);
    EXPECT_EQ(e2e::difference(head, tool::read_range(path, 0, head.size())), "");
    // Nothing was written into the hole: no media byte was moved or copied.
    EXPECT_LT(tool::allocated_bytes(path), uint64_t{1} << 20);
}

INSTANTIATE_TEST_SUITE_P(Sparse, MdatBoundary,
                         ::testing::Values(BoundaryCase{"LargestWithShortHeader", kLargestWithShortHeader, 8},
                                           BoundaryCase{"SmallestWithLargeHeader", kLargestWithShortHeader + 1, 16}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
