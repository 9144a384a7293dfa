// Damaged input, one row per code path: a real recording cut short, or one
// value in it overwritten. The tool refuses it with its exact lines and
// leaves it byte for byte, or converts it with its exact warnings into a
// file that ffmpeg reads without a word, finding the packets the row names,
// and that the undo turns back into the damaged bytes. A dry run before
// each run and undo says the same and writes nothing; the bytes it says a
// conversion appends are those the conversion appends. The numbers are those
// of the fixtures: 30 video and 48 audio packets, 15 and 22 of them in the
// first fragment.
#include <gtest/gtest.h>

#include <algorithm>

#include "atoms/be.h"
#include "bin/driver_state.h"
#include "tests/support/file_atoms.h"
#include "tests/support/media.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

// In the atom at the path: at `at`, a value of `width` bytes is written, or
// the file ends (kCut), or a `free` child of `value` bytes, zeros after its
// header, is added at the atom's end (kGrow).
// packets: per stream, in the converted file; none: refused.
constexpr uint64_t kCut = 0, kGrow = 1;
struct Row {
    const char *name, *fixture, *atom;  // the fixture and the atom damaged, by its path
    uint64_t at, width, value;
    std::string err;
    std::vector<size_t> packets;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

const char kA[] = "empty_moov.mp4";         // absolute base data offsets
const char kW[] = "moov_with_samples.mp4";  // sample tables in the moov
const std::string kNoMdat = "Not a quicktime file in general\nmoov @ 44\nmdat @ 0\n";
const std::string kNoMvex = "Not a fragmented MP4 file\nmoof @ 1235\nmvex @ 0\n";
const std::string kNoTrack = "moof: unable to locate track\n";
std::string left_out(uint64_t n) {
    return "Left out " + std::to_string(n) + " samples that lie past the end of the file\n";
}

const Row kRows[] = {
    {"cut_inside_moov", kA, "moov", 595, kCut, 0, kNoMdat, {}},
    {"cut_after_moov", kA, "moov", 1191, kCut, 0, kNoMdat, {}},
    {"cut_inside_last_moof", kA, "moof#2", 396, kCut, 0, left_out(41), {15, 22}},
    {"cut_inside_last_mdat", kA, "mdat#2", 7053, kCut, 0, left_out(33), {23, 22}},
    {"cut_inside_last_mdat_moof_based", "base_is_moof.mp4", "mdat#2", 3526, kCut, 0, left_out(40), {16, 22}},
    {"cut_one_byte_short_cmaf", "cmaf.mp4", "mdat#2", 13869, kCut, 0, left_out(1), {30, 47}},
    {"moov_size_0", kA, "moov", 0, 4, 0, kNoMdat, {}},
    {"moov_size_1", kA, "moov", 0, 4, 1, "Not a quicktime file in general\nmoov @ 52\nmdat @ 0\n", {}},
    {"moov_size_7", kA, "moov", 0, 4, 7, "Not a quicktime file in general\nmoov @ 0\nmdat @ 0\n", {}},
    {"first_mdat_size_0", kA, "mdat", 0, 4, 0, "", {15, 22}},
    {"first_mdat_size_7", kA, "mdat", 0, 4, 7, kNoMdat, {}},
    {"last_mdat_past_end", kA, "mdat#2", 0, 4, 0x7FFFFFFF, "", {30, 48}},
    {"last_moof_size_0", kA, "moof#2", 0, 4, 0, "", {30, 48}},
    {"last_moof_payload_32_mib_minus_1_past_end", kA, "moof#2", 0, 4, 0x1FFFFFF + 8, "", {30, 48}},
    {"moof_past_1_gib_refused", kA, "moof#2", 0, 4, (1u << 30) + 9, "Failed to read moof atom\n", {}},
    {"mvhd_type_damaged_a_new_one_made", "late_start.mp4", "moov/mvhd", 4, 4, 0x6D016864, "", {30, 48}},
    {"trak_size_0", kA, "moov/trak#2", 0, 4, 0, kNoMvex, {}},
    {"trak_past_moov", kA, "moov/trak#2", 0, 4, 0x10000, kNoMvex, {}},
    {"mfhd_size_0", kA, "moof#2/mfhd", 0, 4, 0, "", {15, 22}},
    {"traf_size_7", kA, "moof/traf#2", 0, 4, 7, "", {30, 26}},
    {"trun_past_traf", kA, "moof/traf/trun", 0, 4, 0x1000, "", {15, 48}},
    {"stts_count_2e32_minus_1", kW, "moov/trak/mdia/minf/stbl/stts", 12, 4, 0xFFFFFFFF, "", {30, 48}},
    {"stts_short_of_stsz", kW, "moov/trak/mdia/minf/stbl/stts", 16, 4, 10,
     "Left out 5 samples that the movie's own tables do not all describe\n", {25, 48}},
    {"stsz_count_2e32_minus_1", kW, "moov/trak/mdia/minf/stbl/stsz", 16, 4, 0xFFFFFFFF, "", {30, 48}},
    {"trun_count_2e32_minus_1", kA, "moof#2/traf#2/trun", 12, 4, 0xFFFFFFFF, left_out(0xFFFFFFFF - 26), {30, 48}},
    {"trun_ends_inside_its_data_offset", kA, "moof#2/traf#2/trun", 0, 4, 18, left_out(26), {30, 22}},
    {"tfhd_unknown_track", kA, "moof/traf#2/tfhd", 12, 4, 7, kNoTrack, {30, 26}},
    {"trex_unknown_track", kA, "moov/mvex/trex#2", 12, 4, 9, "'trex' atom warning: Unable to find track with ID 9\n",
     {30, 48}},
    {"tfdt_past_32_bits", kA, "moof#2/traf/tfdt", 12, 8, uint64_t{1} << 40, "", {30, 48}},
    {"tfdt_near_2e63", kA, "moof/traf/tfdt", 12, 8, 0x7FFFFFFFFFFFFF00, "Track timeline too long\n", {}},
    {"base_data_offset_near_2e64", kA, "moof/traf/tfhd", 16, 8, ~uint64_t{15}, left_out(15), {15, 48}},
    {"no_ftyp", kA, "ftyp", 4, 4, 0x66726565, "Warning: Quicktime file without ftyp atom\nNot an MP4 file\n", {}},
    {"mdat_size_0_holds_every_moof", kW, "mdat", 0, 4, 0, "Not a fragmented MP4 file\nmoof @ 0\nmvex @ 1768\n", {}},
    {"moov_payload_16_mib_plus_1", kA, "moov", 0, kGrow, 16777217 - 1183, "moov atom is too large\n", {}},
};

class Damaged : public ::testing::TestWithParam<Row> {};

TEST_P(Damaged, RefusedUntouchedOrConvertedPlayedAndUndone) {
    const Row& row = GetParam();
    tool::Bytes b = tool::read_file(tool::test_data_dir() + "/" + row.fixture);
    const std::vector<fa::Node> tree = fa::atom_tree(b);
    const fa::Node& atom = fa::find(tree, row.atom);
    if (row.width == 4) be::put_u32(b.data() + atom.start + row.at, static_cast<uint32_t>(row.value));
    if (row.width == 8) be::put_u64(b.data() + atom.start + row.at, row.value);
    if (row.width == kGrow) be::put_u32(b.data() + atom.start, static_cast<uint32_t>(atom.size + row.value));
    if (row.width == kGrow) {
        b.insert(b.begin() + static_cast<long>(atom.end()), row.value, 0);
        be::put_u32(b.data() + atom.end(), static_cast<uint32_t>(row.value));
        be::put_u32(b.data() + atom.end() + 4, mp4b::fourcc_of("free"));
    }
    if (row.width == kCut) b.resize(atom.start + row.at);
    const tool::TempDir dir;
    const std::string path = dir.file("damaged.mp4");
    tool::write_range(path, 0, b);
    tool::RunOptions options;
    options.timeout_seconds = 20;
    options.cap_memory = true;
    // A dry run first: the same lines and status as the run, nothing written.
    const tool::Result dry = tool::run({"--dry-run", "-f", path}, options);
    EXPECT_EQ(tool::difference(b, tool::read_file(path)), "");
    const tool::Result r = tool::run({"-f", path}, options);
    EXPECT_EQ(dry.status, r.status);
    EXPECT_EQ(dry.err, r.err);
    EXPECT_EQ(r.status, row.packets.empty() ? 1 : 0);
    EXPECT_EQ(r.err, row.err);
    EXPECT_EQ(r.out, "");
    if (r.status == 0) {
        const size_t appends = dry.out.find("appends ");
        ASSERT_NE(appends, std::string::npos) << dry.out;
        std::string count = dry.out.substr(appends + 8);
        count.erase(std::remove(count.begin(), count.end(), ','), count.end());
        EXPECT_EQ(tool::file_size(path), b.size() + std::stoull(count)) << dry.out;
        EXPECT_EQ(media::ffmpeg_complaints(path), "");
        std::vector<size_t> packets;
        for (const media::Packet& p : media::packets(path)) {
            packets.resize(std::max<size_t>(packets.size(), p.stream + 1));
            ++packets[p.stream];
        }
        EXPECT_EQ(packets, row.packets);
        const tool::Result dry_undo = tool::run({"-n", "--undo", "-f", path}, options);
        EXPECT_EQ(dry_undo.out, "would restore the original (" + with_commas(b.size()) + " bytes)\n");
        const tool::Result undo = tool::run({"--undo", "-f", path}, options);
        EXPECT_EQ(undo.status, 0);
        EXPECT_EQ(undo.err, "");
    }
    EXPECT_EQ(tool::difference(b, tool::read_file(path)), "");
}

INSTANTIATE_TEST_SUITE_P(Rows, Damaged, ::testing::ValuesIn(kRows), [](const auto& p) { return p.param.name; });

}  // namespace
