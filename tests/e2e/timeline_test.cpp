// Timeline fidelity on real streaming downloads and late-starting
// recordings: after the conversion ffmpeg decodes every frame without a
// complaint, the movie starts at 0, every stream starts, and every packet is
// presented, where it was in the fragmented original less one shift common
// to all of them; GStreamer finds every stream and decodes the file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <algorithm>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "atoms/fourcc.h"
#include "tests/support/atom_walk.h"
#include "tests/support/tool_runner.h"

namespace {

constexpr double kTolerance = 0.001;  // seconds

using tool::capture;

bool have_ffmpeg() {
    return capture("command -v ffprobe >/dev/null 2>&1 && command -v ffmpeg >/dev/null 2>&1 && echo yes") ==
           "yes\n";
}

std::string quoted(const std::string& path) { return "'" + path + "'"; }

// ffprobe's compact output, one map of key=value per line.
std::vector<std::map<std::string, std::string>> probe(const std::string& args, const std::string& path) {
    std::vector<std::map<std::string, std::string>> rows;
    const std::string out = capture("ffprobe -v error " + args + " -of compact " + quoted(path) + " 2>/dev/null");
    size_t at = 0;
    while (at < out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos) end = out.size();
        std::map<std::string, std::string> row;
        size_t field = out.find('|', at);
        while (field != std::string::npos && field < end) {
            size_t next = out.find('|', field + 1);
            if (next == std::string::npos || next > end) next = end;
            const std::string kv = out.substr(field + 1, next - field - 1);
            const size_t eq = kv.find('=');
            if (eq != std::string::npos) row[kv.substr(0, eq)] = kv.substr(eq + 1);
            field = next;
        }
        if (!row.empty()) rows.push_back(row);
        at = end + 1;
    }
    return rows;
}

double number(const std::map<std::string, std::string>& row, const std::string& key) {
    auto it = row.find(key);
    return it == row.end() ? -1.0 : std::atof(it->second.c_str());
}

struct Stream {
    double start = 0;
    double duration = 0;
    long frames = 0;
    std::vector<double> pts;  // every packet's, in file order
};

std::vector<Stream> streams_of(const std::string& path) {
    std::vector<Stream> streams;
    for (const auto& row : probe("-count_frames -show_entries stream=start_time,duration,nb_read_frames", path)) {
        Stream s;
        s.start = number(row, "start_time");
        s.duration = number(row, "duration");
        s.frames = static_cast<long>(number(row, "nb_read_frames"));
        streams.push_back(s);
    }
    for (const auto& row : probe("-show_entries packet=stream_index,pts_time", path)) {
        const size_t index = static_cast<size_t>(number(row, "stream_index"));
        if (index < streams.size()) streams[index].pts.push_back(number(row, "pts_time"));
    }
    return streams;
}

struct Download {
    const char* name;
    const char* fixture;
    // Drop the fragments before the second one: a recording joined late.
    bool from_second_fragment;
};

void PrintTo(const Download& d, std::ostream* os) { *os << d.name; }

// The fixture, or the fixture without its first fragment, in `dir`.
std::string prepare(const Download& d, const tool::TempDir& dir) {
    const std::string path = tool::copy_fixture(d.fixture, dir);
    if (!d.from_second_fragment) return path;
    uint64_t first = 0, second = 0;
    for (const walk::TopAtom& a : walk::top_level_atoms(path)) {
        if (a.type != fourcc("moof")) continue;
        if (first == 0) first = a.start;
        else if (second == 0) second = a.start;
    }
    if (second == 0) return "";
    const tool::Bytes head = tool::read_range(path, 0, first);
    const tool::Bytes tail = tool::read_range(path, second, tool::file_size(path) - second);
    tool::Bytes joined(head);
    joined.insert(joined.end(), tail.begin(), tail.end());
    const std::string cut = dir.file(std::string("joined_") + d.fixture);
    tool::write_range(cut, 0, joined);
    return cut;
}

class TimelineE2E : public ::testing::TestWithParam<Download> {};

double earliest_start(const std::vector<Stream>& streams) {
    double earliest = streams.front().start;
    for (const Stream& s : streams) earliest = std::min(earliest, s.start);
    return earliest;
}

// The streams GStreamer's discoverer lists ("video #1: ...").
size_t gstreamer_streams(const std::string& path) {
    std::stringstream lines(capture("gst-discoverer-1.0 " + quoted(path) + " 2>&1"));
    static const std::regex stream("^ *(video|audio|subtitles) #[0-9]+: .*");
    size_t n = 0;
    for (std::string line; std::getline(lines, line);) n += std::regex_match(line, stream) ? 1 : 0;
    return n;
}

TEST_P(TimelineE2E, PlaysAsTheOriginalDid) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are needed";
    tool::TempDir dir;
    const std::string path = prepare(GetParam(), dir);
    ASSERT_FALSE(path.empty());
    const std::vector<Stream> before = streams_of(path);
    ASSERT_FALSE(before.empty());

    const tool::Result r = tool::run({"-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    EXPECT_EQ(capture("ffmpeg -nostdin -v warning -i " + quoted(path) + " -map 0 -f null - 2>&1"), "");
    const std::vector<Stream> after = streams_of(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_NEAR(earliest_start(after), 0.0, kTolerance);
    const double shift = earliest_start(before) - earliest_start(after);
    for (size_t i = 0; i < after.size(); ++i) {
        SCOPED_TRACE("stream " + std::to_string(i));
        EXPECT_GT(after[i].frames, 0);
        EXPECT_EQ(after[i].frames, before[i].frames);
        EXPECT_NEAR(after[i].start, before[i].start - shift, kTolerance);
        ASSERT_EQ(after[i].pts.size(), before[i].pts.size());
        for (size_t k = 0; k < after[i].pts.size(); ++k) {
            EXPECT_NEAR(after[i].pts[k], before[i].pts[k] - shift, kTolerance) << "packet " << k;
            // The stream lasts past the start of each of its packets.
            EXPECT_LT(after[i].pts[k], after[i].start + after[i].duration) << "packet " << k;
        }
    }

    if (!tool::executable_in_path("gst-discoverer-1.0") || !tool::executable_in_path("gst-launch-1.0")) {
        GTEST_SKIP() << "GStreamer's gst-discoverer-1.0 and gst-launch-1.0 are needed";
    }
    EXPECT_EQ(gstreamer_streams(path), after.size());
    tool::RunOptions gst;
    gst.program = "gst-launch-1.0";
    gst.timeout_seconds = 60;
    const tool::Result play = tool::run({"-q", "filesrc", "location=" + path, "!", "decodebin", "!", "fakesink"}, gst);
    EXPECT_EQ(play.status, 0) << play.out << play.err;
}

INSTANTIATE_TEST_SUITE_P(
    Downloads, TimelineE2E,
    ::testing::Values(Download{"HlsFromFirstSegment", "hls_from_first.mp4", false},
                      Download{"HlsFromSecondSegment", "hls_from_second.mp4", false},
                      Download{"DashFromFirstSegment", "dash_from_first.mp4", false},
                      Download{"DashFromSecondSegment", "dash_from_second.mp4", false},
                      // No edit list at all: the conversion has to add one.
                      Download{"PlainRecordingJoinedLate", "base_is_moof.mp4", true},
                      Download{"CaptureStartingADayIn", "late_start.mp4", false},
                      Download{"MovieTimescaleOfWholeSeconds", "coarse_timescale.mp4", false}),
    [](const ::testing::TestParamInfo<Download>& p) { return std::string(p.param.name); });

}  // namespace
