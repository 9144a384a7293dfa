// Every real fixture converted for real and judged by readers that are not
// ours: the layout of a conversion, every packet where it was (its timing
// moved by one shift common to the whole file, so that the movie starts at
// 0), the same decoded frames in ffmpeg, the same streams in GStreamer; a
// second conversion refused, the undo back to the very bytes. The encrypted
// fixture, which ffmpeg cannot read fragmented, is judged against its clear
// twin.
#include <gtest/gtest.h>

#include <set>
#include <tuple>

#include "tests/support/file_atoms.h"
#include "tests/support/media.h"

namespace {

// ffmpeg 5.1 shows the first frame of a B-frame video stream of these
// fragmented files a frame or two late, so their streams are not compared
// with each other; each stream still moves as a whole.
const std::set<std::string> kMisplacedByFfmpeg = {"cmaf.mp4", "negative_cts.mp4"};

int64_t shift(int64_t before, int64_t after) {
    return before == media::kNoTime || after == media::kNoTime ? (before == after ? 0 : INT64_MAX) : before - after;
}

class Playback : public ::testing::TestWithParam<std::string> {};

TEST_P(Playback, ConvertsPlaysTheSameAndUndoes) {
    const std::string name = GetParam(), original = tool::test_data_dir() + "/" + name;
    const bool encrypted = name == "cenc.mp4";
    const std::string key = encrypted ? "-decryption_key 00112233445566778899aabbccddeeff" : "";
    const std::string clear = encrypted ? tool::test_data_dir() + "/base_is_moof.mp4" : original;
    tool::TempDir dir;
    const std::string path = tool::copy_fixture(name, dir);
    const tool::Bytes before = tool::read_file(path);
    const fa::Node moov = fa::find(fa::atom_tree(path), "moov");

    tool::Result r = tool::run({"-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    // The undo record where the moov stood, the new mdat up to the old end,
    // the old moov kept beyond it, the new moov last; the media untouched.
    const uint64_t S = before.size(), P = moov.end() - 8;
    const std::vector<fa::Node> top = fa::atom_tree(path);
    const fa::Node &tolv = fa::find(top, "TOLV"), &mdat = fa::find(top, "mdat"), &record = fa::find(top, "TOLV#2"),
                   &kept = fa::find(top, "TOLV#2/ORIG/moov"), &last_moov = fa::find(top, "moov");
    EXPECT_EQ(std::make_tuple(tolv.start, tolv.end(), mdat.start, mdat.end(), record.start, last_moov.start, last_moov.end()),
              std::make_tuple(moov.start, P, P, S, S, record.end(), tool::file_size(path)));
    EXPECT_EQ(tool::read_range(path, kept.start, kept.size), tool::read_range(original, moov.start, moov.size));
    EXPECT_TRUE(fa::all_of(top, "moof").empty());
    EXPECT_EQ(tool::read_range(path, P + 8, S - P - 8), tool::Bytes(before.begin() + static_cast<long>(P + 8), before.end()));

    const std::vector<media::Packet> a = media::packets(clear), b = media::packets(path, key);
    const std::vector<media::Stream> streams = media::streams(path);
    ASSERT_EQ(a.size(), b.size());
    std::map<unsigned, size_t> last;
    for (size_t i = 0; i < a.size(); ++i) last[a[i].stream] = i;
    std::map<unsigned, std::pair<int64_t, int64_t>> shifts;  // pts and dts, per stream
    for (size_t i = 0; i < a.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        EXPECT_EQ(std::make_tuple(b[i].stream, b[i].size, b[i].key), std::make_tuple(a[i].stream, a[i].size, a[i].key));
        EXPECT_TRUE(encrypted || b[i].pos == a[i].pos);
        const std::pair<int64_t, int64_t> moved{shift(a[i].pts, b[i].pts), shift(a[i].dts, b[i].dts)};
        // The edit lists of a plain file trim the first and last durations.
        const bool inner = !shifts.emplace(a[i].stream, moved).second && i != last[a[i].stream];
        EXPECT_TRUE(!inner || a[i].duration == media::kNoTime || b[i].duration == a[i].duration);
        EXPECT_EQ(moved, shifts[a[i].stream]);
    }
    double earliest = 1e9, low = 1e9, high = -1e9;
    for (const auto& [stream, moved] : shifts) {
        ASSERT_LT(stream, streams.size());
        earliest = std::min(earliest, streams[stream].start_time);
        low = std::min(low, static_cast<double>(moved.first) * streams[stream].time_base);
        high = std::max(high, static_cast<double>(moved.first) * streams[stream].time_base);
    }
    EXPECT_NEAR(earliest, 0.0, 0.001) << "the movie starts at 0";
    EXPECT_TRUE(high - low <= 0.001 || kMisplacedByFfmpeg.count(name)) << "one shift for every stream";

    EXPECT_EQ(media::frame_digests(path, key), media::frame_digests(clear));
    EXPECT_EQ(media::ffmpeg_complaints(path, key), "");
    EXPECT_TRUE(media::gstreamer_play(original).status != 0 || media::gstreamer_play(path).status == 0);
    EXPECT_EQ(media::gstreamer_stream_count(path), media::gstreamer_stream_count(original));

    const tool::Bytes converted = tool::read_file(path);
    r = tool::run({"-f", path});
    EXPECT_EQ(std::make_pair(r.status, r.err), std::make_pair(1, std::string("Not a fragmented MP4 file\nmoof @ 0\nmvex @ 0\n")));
    EXPECT_EQ(tool::read_file(path), converted);

    r = tool::run({"--undo", "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");
    EXPECT_EQ(tool::difference(before, tool::read_file(path)), "");
}

INSTANTIATE_TEST_SUITE_P(TestData, Playback, ::testing::ValuesIn(tool::test_data_files(".mp4")),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                             return p.param.substr(0, p.param.size() - 4);
                         });

}  // namespace
