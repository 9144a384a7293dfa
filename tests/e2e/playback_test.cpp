// Every real fixture converted for real: the file keeps the layout of a
// conversion, plays the same in a reader that is not ours (ffmpeg), refuses a
// second conversion, and undoes to the original bytes. An encrypted fixture
// decrypts, once converted, to every frame of the clear file it was made from.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "atoms/be.h"
#include "tests/e2e/e2e_helpers.h"
#include "tests/support/atom_walk.h"
#include "tests/support/tool_runner.h"

namespace {

using tool::capture;

std::vector<std::string> split(const std::string& line, char sep) {
    std::vector<std::string> parts;
    std::stringstream ss(line);
    std::string part;
    while (std::getline(ss, part, sep)) parts.push_back(part);
    return parts;
}

// Per stream, the packets in order as "size md5", from ffmpeg's own reader;
// `key`: its decryption switch, if any.
std::map<int, std::vector<std::string>> packet_digests(const std::string& path, const std::string& key = "") {
    std::map<int, std::vector<std::string>> streams;
    std::stringstream lines(capture("ffmpeg -v error " + key + "-i '" + path + "' -map 0 -c copy -f framemd5 - 2>&1"));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        auto f = split(line, ',');
        if (f.size() < 6) {
            streams[-1].push_back(line);  // an error line: makes the comparison fail visibly
            continue;
        }
        streams[std::stoi(f[0])].push_back(f[4] + f[5]);
    }
    return streams;
}

// Per video stream, the packets in order as "pts-from-first keyframe-flag".
// ffmpeg places a stream with negative composition offsets differently as a
// whole in fragmented and plain files, so times count from the first packet.
std::map<int, std::vector<std::string>> video_timing(const std::string& path) {
    std::map<int, std::vector<std::string>> streams;
    std::map<int, long long> first;
    std::string video = capture("ffprobe -v error -select_streams v -show_entries stream=index -of csv=p=0 '" +
                                path + "'");
    std::stringstream lines(capture("ffprobe -v error -select_streams v -show_entries packet=stream_index,pts,flags "
                                    "-of csv=p=0 '" + path + "'"));
    std::string line;
    while (std::getline(lines, line)) {
        auto f = split(line, ',');
        if (f.size() < 3) continue;
        int s = std::stoi(f[0]);
        long long pts = f[1] == "N/A" ? 0 : std::stoll(f[1]);
        if (!first.count(s)) first[s] = pts;
        streams[s].push_back(std::to_string(pts - first[s]) + (f[2].find('K') != std::string::npos ? " K" : " -"));
    }
    return streams;
}

// The encrypted fixtures: ffmpeg's decryption switch, and their clear twin.
const std::map<std::string, std::pair<std::string, std::string>> kEncrypted = {
    {"cenc.mp4", {"-decryption_key 00112233445566778899aabbccddeeff ", "base_is_moof.mp4"}},
};

// The decoded frames, from ffmpeg.
std::string frame_digests(const std::string& path, const std::string& key = "") {
    return capture("ffmpeg -v error " + key + "-i '" + path + "' -f framemd5 - 2>&1 | grep -v '^#'");
}

class Playback : public ::testing::TestWithParam<std::string> {};

TEST_P(Playback, ConvertsPlaysTheSameAndUndoes) {
    tool::TempDir dir;
    const std::string path = dir.file("converted.mp4");
    std::rename(tool::copy_fixture(GetParam(), dir).c_str(), path.c_str());
    const std::string reference = tool::copy_fixture(GetParam(), dir);
    const tool::Bytes before = tool::read_file(reference);
    const e2e::Original o = e2e::describe(reference);

    tool::Result r = tool::run({"-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");

    // Layout: the record where the moov stood, the new mdat to the old end,
    // the appended copy, then the new moov up to the end of the file.
    const uint64_t H = o.size >= 0x7FFF0000 ? 16 : 8;
    const uint64_t P = o.moov_at + 8 + o.moov_payload - H;
    auto atoms = walk::top_level_atoms(path);
    auto tolv = walk::first_of(atoms, "TOLV");
    auto mdat = walk::first_of(atoms, "mdat");
    auto moov = walk::first_of(atoms, "moov");
    ASSERT_TRUE(tolv && mdat && moov);
    EXPECT_EQ(tolv->start, o.moov_at);
    EXPECT_EQ(mdat->start, P);
    EXPECT_EQ(mdat->end(), o.size);
    EXPECT_EQ(e2e::type_at(path, o.size + 4), "TOLV");
    EXPECT_EQ(e2e::u32_at(path, o.size), o.moov_payload + 24);
    EXPECT_EQ(tool::read_range(path, o.size + 16, o.moov_payload + 8), o.moov_atom);
    EXPECT_EQ(moov->start, o.size + o.moov_payload + 24);
    EXPECT_EQ(moov->end(), tool::file_size(path));
    EXPECT_EQ(walk::first_of(atoms, "moof"), std::nullopt);
    const tool::Bytes new_moov = tool::read_range(path, moov->start, moov->size);
    const std::string as_text(new_moov.begin(), new_moov.end());
    EXPECT_EQ(as_text.find("mvex"), std::string::npos);
    EXPECT_EQ(tool::read_range(path, P + H, o.size - P - H), tool::read_range(reference, P + H, o.size - P - H));

    // Plays the same: every packet's bytes, and the video's timing and sync
    // flags. ffmpeg cannot decrypt an encrypted fixture before conversion
    // (tests/data/README.md); after it, its packets and frames are those of
    // its clear twin.
    const auto encrypted = kEncrypted.find(GetParam());
    const std::string key = encrypted == kEncrypted.end() ? "" : encrypted->second.first;
    const std::string clear =
        encrypted == kEncrypted.end() ? reference : tool::copy_fixture(encrypted->second.second, dir);
    EXPECT_EQ(packet_digests(path, key), packet_digests(clear));
    EXPECT_EQ(video_timing(path), video_timing(clear));
    EXPECT_EQ(capture("ffmpeg -v error " + key + "-i '" + path + "' -f null - 2>&1"), "");
    if (encrypted != kEncrypted.end()) {
        EXPECT_EQ(frame_digests(path, key), frame_digests(clear));
    }

    r = tool::run({"-f", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Not a fragmented MP4 file\nmoof @ 0\nmvex @ 0\n");

    r = tool::run({"--undo", "-f", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(e2e::difference(before, tool::read_file(path)), "");
}

INSTANTIATE_TEST_SUITE_P(TestData, Playback, ::testing::ValuesIn(tool::test_data_files(".mp4")),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                             std::string name = p.param.substr(0, p.param.size() - 4);
                             for (char& c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                             }
                             return name;
                         });

}  // namespace
