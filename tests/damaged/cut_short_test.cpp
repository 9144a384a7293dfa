// Recordings cut short: real fixtures cut inside their last mdat, as a
// recorder that died mid-write leaves them. The conversion keeps every sample
// that lies whole in the file, names how many it left out, and the result
// plays up to the cut in ffmpeg and in GStreamer; the undo gives back the cut
// file. (A cut inside a moof is refused: the damaged-input table.)
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "tests/damaged/damaged_support.h"

namespace {

using dmg::Fixture;
using dmg::Node;
using dmg::Packet;

struct Cut {
    std::string fixture;
    std::string where;  // a name for the point
    // Offset of the cut from the last mdat's start, as a share of its size,
    // or a fixed number of bytes.
    double share;
    int64_t bytes;
};

void PrintTo(const Cut& c, std::ostream* os) { *os << c.fixture << " cut " << c.where; }

// empty_moov: absolute base data offsets; base_is_moof: offsets relative to
// the moof; cmaf: CMAF brands, default-base-is-moof and B-frames.
std::vector<Cut> cuts() {
    std::vector<Cut> out;
    for (const char* name : {"empty_moov.mp4", "base_is_moof.mp4", "cmaf.mp4"}) {
        out.push_back({name, "after_last_mdat_header", 0, 8});
        out.push_back({name, "a_quarter_into_last_mdat", 0.25, 0});
        out.push_back({name, "half_into_last_mdat", 0.5, 0});
        out.push_back({name, "three_quarters_into_last_mdat", 0.75, 0});
        out.push_back({name, "one_byte_short_of_last_mdat", 1, -1});
    }
    return out;
}

uint64_t cut_offset(const Fixture& f, const Cut& c) {
    const auto atoms = dmg::all_of(f.tree, "mdat");
    const Node& last = *atoms.back();
    return last.start + static_cast<uint64_t>(static_cast<double>(last.size) * c.share + static_cast<double>(c.bytes));
}

struct Expected {
    uint64_t left_out = 0;        // samples that end past the cut
    std::vector<size_t> packets;  // per stream: those that end before the cut
};

// From ffprobe's packet list of the whole recording.
Expected expected_for(const Fixture& f, uint64_t cut) {
    Expected e;
    for (const Packet& p : f.packets) e.left_out += p.pos + p.size > cut ? 1 : 0;
    e.packets = dmg::per_stream_if(f.packets, f.streams, [&](const Packet& p) { return p.pos + p.size <= cut; });
    return e;
}

std::string left_out_line(uint64_t n) {
    char buf[100];
    std::snprintf(buf, sizeof buf, "Left out %llu samples that lie past the end of the file\n",
                  static_cast<unsigned long long>(n));
    return buf;
}

class CutShort : public ::testing::TestWithParam<Cut> {
protected:
    // Writes the cut file and converts it; returns the cut bytes.
    dmg::Bytes cut_and_convert(const std::string& path, const Expected& e) {
        const Fixture& f = dmg::fixture(GetParam().fixture);
        const uint64_t at = cut_offset(f, GetParam());
        const dmg::Bytes cut = dmg::slice(f.bytes, 0, at);
        tool::write_range(path, 0, cut);
        const dmg::Outcome r = dmg::run_tool({"-f", path});
        EXPECT_FALSE(r.timed_out);
        EXPECT_FALSE(dmg::has_sanitizer_report(r.err)) << r.err;
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, e.left_out > 0 ? left_out_line(e.left_out) : "");
        return cut;
    }
};

TEST_P(CutShort, PlaysUpToTheCutInFfmpegAndUndoes) {
    const Fixture& f = dmg::fixture(GetParam().fixture);
    const uint64_t at = cut_offset(f, GetParam());
    const Expected e = expected_for(f, at);
    // The cut must lose something, or the row tests nothing.
    ASSERT_NE(e.packets, dmg::per_stream(f.packets, f.streams)) << "cut at " << at;

    tool::TempDir dir;
    const std::string path = dir.file("cut.mp4");
    const dmg::Bytes cut = cut_and_convert(path, e);
    if (HasFailure()) return;

    EXPECT_EQ(dmg::ffmpeg_complaints(path), "");
    EXPECT_EQ(dmg::per_stream(dmg::probe_packets(path), f.streams), e.packets) << "packets per stream";

    const dmg::Outcome undo = dmg::run_tool({"--undo", "-f", path});
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(dmg::difference(cut, tool::read_file(path)), "") << "after the undo";
}

TEST_P(CutShort, PlaysInGstreamer) {
    const std::string missing = dmg::gstreamer_missing();
    if (!missing.empty()) GTEST_SKIP() << missing;
    const Fixture& f = dmg::fixture(GetParam().fixture);
    const Expected e = expected_for(f, cut_offset(f, GetParam()));

    tool::TempDir dir;
    const std::string path = dir.file("cut.mp4");
    cut_and_convert(path, e);
    if (HasFailure()) return;

    const dmg::Outcome play = dmg::gstreamer_play(path);
    EXPECT_FALSE(play.timed_out);
    EXPECT_EQ(play.status, 0) << play.out << play.err;
    EXPECT_EQ((play.out + play.err).find("ERROR"), std::string::npos) << play.out << play.err;
}

INSTANTIATE_TEST_SUITE_P(Recordings, CutShort, ::testing::ValuesIn(cuts()), [](const ::testing::TestParamInfo<Cut>& c) {
    std::string name = c.param.fixture.substr(0, c.param.fixture.size() - 4) + "_" + c.param.where;
    for (char& ch : name)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
});

}  // namespace
