// The 64-bit forms: offsets past 4 GiB in a sparse synthetic file, and the
// debug switches that force each form on a real fixture, seen in the bytes
// written and undone.
#include <gtest/gtest.h>

#include <tuple>

#include "tests/support/atom_bytes.h"
#include "tests/support/file_atoms.h"
#include "tests/support/media.h"
#include "tests/support/mp4_builder.h"

namespace {

using tool::Bytes;

// A video track in two fragments, the second past 4 GiB behind a hole in a
// 16-byte-header mdat.
TEST(LargeOffsets, FragmentsPast4GiBGetCo64AndA16ByteMdatHeader) {
    using namespace mp4b;
    tool::TempDir dir;
    const std::string path = dir.file("far.mp4");
    const uint64_t far = 0x100000000ull + 4096;
    const Bytes head = serialise({ftyp("isom", 0, {"isom"}), movie({minimal_track(1, "vide", 90000)}, true, {1}),
                                  mp4b::moof(1, 1, 0, 4, 100), raw_of_size("mdat", 400, 0x11)});
    const Bytes tail = serialise({mp4b::moof(2, 1, 4 * 3000, 4, 100), raw_of_size("mdat", 400, 0x22)});
    tool::write_range(path, 0, head);
    tool::write_range(path, head.size(), serialise(raw("mdat").make_large().force_size(far - head.size())));
    tool::write_range(path, far, tail);
    const uint64_t S = far + tail.size(), P = fa::find(fa::atom_tree(path), "moov").end() - 16;

    tool::Result r = tool::run({"-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    const std::vector<fa::Node> top = fa::atom_tree(path);
    const fa::Node &mdat = fa::find(top, "mdat"), &co64 = fa::find(top, "moov/trak/mdia/minf/stbl/co64");
    EXPECT_EQ(std::make_tuple(mdat.start, mdat.header, mdat.end()), std::make_tuple(P, uint64_t{16}, S));
    // Version and flags, two chunks: the first fragment's data, the second's.
    EXPECT_EQ(atom_bytes::to_hex(tool::read_range(path, co64.body(), co64.size - co64.header)),
              atom_bytes::to_hex(atom_bytes::cat({atom_bytes::words({0, 2}), atom_bytes::u64(head.size() - 400),
                                                  atom_bytes::u64(S - 400)})));

    r = tool::run({"--undo", "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tool::file_size(path), S);
    EXPECT_EQ(tool::read_range(path, 0, head.size()), head);
    EXPECT_EQ(tool::read_range(path, far, tail.size()), tail);
}

// A debug switch and the atom whose form it forces.
struct Switch {
    const char* name;
    const char* atom;  // its path in the converted file
    uint64_t header;   // its header's length
    int version;       // its version, or -1
};

class DebugSwitch : public ::testing::TestWithParam<Switch> {};

// Each switch on its own: the form it forces, a file that plays as the
// original did, and the undo. --dbg-move-moov appends the moov as it was.
TEST_P(DebugSwitch, WritesItsFormAndUndoes) {
    const Switch& s = GetParam();
    const bool move = std::string(s.name) == "--dbg-move-moov";
    tool::TempDir dir;
    const std::string path = tool::copy_fixture("empty_moov.mp4", dir);
    const Bytes before = tool::read_file(path);
    const fa::Node moov = fa::find(fa::atom_tree(path), "moov");

    tool::Result r = tool::run({s.name, "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, move ? "debug function complete: moov appended as-is to the end. It should play.\n" : "");
    const std::vector<fa::Node> top = fa::atom_tree(path);
    const fa::Node& forced = fa::find(top, s.atom);
    EXPECT_EQ(forced.header, s.header);
    EXPECT_TRUE(s.version < 0 || tool::read_range(path, forced.body(), 1) == Bytes{static_cast<uint8_t>(s.version)});
    EXPECT_EQ(fa::find(top, "mdat").end(), before.size());
    const auto at = before.begin() + static_cast<long>(moov.start);
    EXPECT_TRUE(move ? tool::read_range(path, before.size(), moov.size) == Bytes(at, at + static_cast<long>(moov.size))
                     : media::ffmpeg_complaints(path).empty());

    r = tool::run({"--undo", "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tool::difference(before, tool::read_file(path)), "");
}

INSTANTIATE_TEST_SUITE_P(Switches, DebugSwitch,
                         ::testing::Values(Switch{"--dbg-force-co64", "moov/trak/mdia/minf/stbl/co64", 8, 0},
                                           Switch{"--dbg-force-mdat64", "mdat", 16, -1},
                                           Switch{"--dbg-force-mvhd-v1", "moov/mvhd", 8, 1},
                                           Switch{"--dbg-force-tkhd-v1", "moov/trak/tkhd", 8, 1},
                                           Switch{"--dbg-force-mdhd-v1", "moov/trak/mdia/mdhd", 8, 1},
                                           Switch{"--dbg-move-moov", "moov", 8, -1}),
                         [](const auto& p) { return std::regex_replace(p.param.name + 2, std::regex("-"), "_"); });

}  // namespace
