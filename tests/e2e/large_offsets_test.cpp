// Offsets past 4 GiB and the debug switches that force the 64-bit forms, on
// sparse synthetic files: checked in the bytes the conversion writes.
#include <gtest/gtest.h>

#include "atoms/be.h"
#include "tests/e2e/e2e_helpers.h"
#include "tests/support/atom_walk.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

using tool::Bytes;

// The body of the first atom of `type` inside `atom` (searched by name; the
// new movie holds each of these names once per track).
Bytes find_atom(const Bytes& atom, const std::string& type, size_t from = 0) {
    for (size_t i = from + 4; i + 4 <= atom.size(); ++i) {
        if (std::equal(type.begin(), type.end(), atom.begin() + static_cast<long>(i))) {
            uint32_t size = be::read_u32(atom.data() + i - 4);
            if (size >= 8 && i - 4 + size <= atom.size()) {
                return Bytes(atom.begin() + static_cast<long>(i + 4), atom.begin() + static_cast<long>(i - 4 + size));
            }
        }
    }
    return {};
}

Bytes new_moov(const std::string& path) {
    auto atoms = walk::top_level_atoms(path);
    auto moov = walk::first_of(atoms, "moov");
    return moov ? tool::read_range(path, moov->start, moov->size) : Bytes{};
}

// ftyp, a fragmented moov with one video track, a first fragment, then an
// mdat whose payload is a hole reaching past `far`, and a second fragment
// there.
uint64_t write_far_file(const std::string& path, uint64_t far) {
    using namespace mp4b;
    Atom moov = movie({minimal_track(1, "vide", 90000)}, true, {1});
    std::vector<Atom> head = {ftyp("isom", 0, {"isom"}), moov, mp4b::moof(1, 1, 0, 4, 100),
                              raw_of_size("mdat", 400, 0x11)};
    write_file(path, head);
    const uint64_t hole_at = tool::file_size(path);
    Bytes hole_header;
    BeWriter w(hole_header);
    w.u32(1);
    w.u32(fourcc_of("mdat"));
    w.u64(far - hole_at);
    tool::write_range(path, hole_at, hole_header);
    Bytes tail = serialise({mp4b::moof(2, 1, 4 * 3000, 4, 100), raw_of_size("mdat", 400, 0x22)});
    tool::write_range(path, far, tail);
    return far + tail.size();
}

TEST(LargeOffsets, FragmentsPast4GiBGetCo64AndA16ByteMdatHeader) {
    tool::TempDir dir;
    const std::string path = dir.file("far.mp4");
    const uint64_t far = 0x100000000ull + 4096;
    const uint64_t size = write_far_file(path, far);
    const e2e::Original o = e2e::describe(path);
    const Bytes head = tool::read_range(path, 0, o.first_mdat_at + 408);
    const Bytes tail = tool::read_range(path, far, size - far);

    tool::Result r = tool::run({"-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    const uint64_t P = o.moov_at + 8 + o.moov_payload - 16;
    EXPECT_EQ(e2e::u32_at(path, P), 1u);
    EXPECT_EQ(e2e::type_at(path, P + 4), "mdat");
    EXPECT_EQ(e2e::u64_at(path, P + 8), size - P);

    const Bytes co64 = find_atom(new_moov(path), "co64");
    ASSERT_EQ(co64.size(), 4u + 4u + 2 * 8u);
    EXPECT_EQ(be::read_u32(co64.data() + 4), 2u);                              // two chunks
    EXPECT_EQ(be::read_u64(co64.data() + 16), far + mp4b::moof(2, 1, 12000, 4, 100).real_size() + 8);
    EXPECT_TRUE(find_atom(new_moov(path), "stco").empty());

    r = tool::run({"--undo", "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tool::file_size(path), size);
    EXPECT_EQ(tool::read_range(path, 0, head.size()), head);
    EXPECT_EQ(tool::read_range(path, far, tail.size()), tail);
}

std::string ffmpeg_errors(const std::string& path) {
    return tool::capture("ffmpeg -v error -i '" + path + "' -f null - 2>&1");
}

struct ForceCase {
    const char* flag;
    const char* atom;
    size_t body_without;  // body length without the switch
    size_t body_with;     // with it
};

class ForceSwitch : public ::testing::TestWithParam<ForceCase> {};

TEST_P(ForceSwitch, WritesThe64BitFormOfItsHeader) {
    const ForceCase& c = GetParam();
    tool::TempDir dir;
    const std::string plain = tool::copy_fixture("empty_moov.mp4", dir);
    const std::string forced = dir.file("forced.mp4");
    tool::write_range(forced, 0, tool::read_file(plain));

    ASSERT_EQ(tool::run({"-f", plain}).status, 0);
    tool::Result r = tool::run({c.flag, "-f", forced});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const Bytes before = find_atom(new_moov(plain), c.atom);
    const Bytes after = find_atom(new_moov(forced), c.atom);
    ASSERT_EQ(before.size(), c.body_without);
    ASSERT_EQ(after.size(), c.body_with);
    EXPECT_EQ(before[0], 0) << "version";
    EXPECT_EQ(after[0], 1) << "version";
    EXPECT_EQ(ffmpeg_errors(forced), "");
}

INSTANTIATE_TEST_SUITE_P(Switches, ForceSwitch,
                         ::testing::Values(ForceCase{"--dbg-force-mvhd-v1", "mvhd", 100, 112},
                                           ForceCase{"--dbg-force-tkhd-v1", "tkhd", 84, 96},
                                           ForceCase{"--dbg-force-mdhd-v1", "mdhd", 24, 36}),
                         [](const ::testing::TestParamInfo<ForceCase>& p) { return std::string(p.param.atom); });

TEST(ForceSwitch, Co64HoldsTheSameOffsetsAsStco) {
    tool::TempDir dir;
    const std::string plain = tool::copy_fixture("empty_moov.mp4", dir);
    const std::string forced = dir.file("forced.mp4");
    tool::write_range(forced, 0, tool::read_file(plain));
    ASSERT_EQ(tool::run({"-f", plain}).status, 0);
    ASSERT_EQ(tool::run({"--dbg-force-co64", "-f", forced}).status, 0);

    // The first track's tables: same entries, 8 bytes wide instead of 4.
    const Bytes stco = find_atom(new_moov(plain), "stco");
    const Bytes co64 = find_atom(new_moov(forced), "co64");
    ASSERT_GE(stco.size(), 8u);
    const uint32_t count = be::read_u32(stco.data() + 4);
    ASSERT_EQ(co64.size(), 8u + 8u * count);
    EXPECT_EQ(be::read_u32(co64.data() + 4), count);
    for (uint32_t i = 0; i < count; ++i) {
        EXPECT_EQ(be::read_u64(co64.data() + 8 + 8 * i), be::read_u32(stco.data() + 8 + 4 * i)) << "chunk " << i;
    }
    EXPECT_TRUE(find_atom(new_moov(forced), "stco").empty());
    EXPECT_EQ(ffmpeg_errors(forced), "");
}

TEST(ForceSwitch, Mdat64GivesASmallFileThe16ByteHeader) {
    tool::TempDir dir;
    const std::string path = tool::copy_fixture("empty_moov.mp4", dir);
    const tool::Bytes before = tool::read_file(path);
    const e2e::Original o = e2e::describe(path);
    ASSERT_EQ(tool::run({"--dbg-force-mdat64", "-f", path}).status, 0);
    const uint64_t P = o.moov_at + 8 + o.moov_payload - 16;
    EXPECT_EQ(e2e::u32_at(path, P), 1u);
    EXPECT_EQ(e2e::type_at(path, P + 4), "mdat");
    EXPECT_EQ(e2e::u64_at(path, P + 8), o.size - P);
    EXPECT_EQ(ffmpeg_errors(path), "");
    ASSERT_EQ(tool::run({"--undo", "-f", path}).status, 0);
    EXPECT_EQ(tool::read_file(path), before);
}

}  // namespace
