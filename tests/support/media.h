// What other programs make of a file: ffprobe's packets and streams, ffmpeg's
// decoded frames and complaints, GStreamer's playback. These are the
// independent judges of a conversion; the tests never read a converted file's
// sample tables with the tool's own code.
#pragma once

#include <iterator>
#include <map>
#include <regex>
#include <sstream>

#include "tests/support/tool_runner.h"

namespace media {

constexpr int64_t kNoTime = INT64_MIN;  // ffprobe's N/A

// Runs `program` with the words of `options` before `args`.
inline tool::Result external(const std::string& program, const std::string& options, std::vector<std::string> args) {
    std::istringstream words(options);
    args.insert(args.begin(), std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
    return tool::run(args, {120, {}, program});
}

// ffprobe's lines of the entries asked, as fields in the order ffprobe gives.
// Throws when ffprobe fails.
inline std::vector<std::vector<std::string>> probe(const std::string& path, const std::string& options, const std::string& what) {
    const tool::Result r = external("ffprobe", "-v error " + options, {"-show_entries", what, "-of", "csv=p=0", path});
    if (r.status != 0) throw std::runtime_error("ffprobe failed on " + path + ": " + r.err);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        std::stringstream fields(line);
        if (!line.empty()) rows.emplace_back();
        for (std::string f; std::getline(fields, f, ',');) rows.back().push_back(f == "N/A" ? "" : f);
    }
    return rows;
}

struct Packet {
    unsigned stream = 0;
    int64_t pts = kNoTime, dts = kNoTime, duration = kNoTime;  // in the stream's time base
    uint64_t size = 0, pos = 0;
    bool key = false;
};
// Every packet, in ffprobe's order.
inline std::vector<Packet> packets(const std::string& path, const std::string& input_options = "") {
    std::vector<Packet> out;
    const auto time = [](const std::string& f) { return f.empty() ? kNoTime : std::stoll(f); };
    for (const auto& f : probe(path, input_options, "packet=stream_index,pts,dts,duration,size,pos,flags"))
        out.push_back({static_cast<unsigned>(std::stoul(f.at(0))), time(f.at(1)), time(f.at(2)), time(f.at(3)),
                       std::stoull(f.at(4)), f.at(5).empty() ? 0 : std::stoull(f[5]), f.at(6).find('K') != std::string::npos});
    return out;
}

// The seconds of one tick, and of the first presentation (-1 when unknown).
struct Stream { double time_base = 0, start_time = 0; };
inline std::vector<Stream> streams(const std::string& path) {
    std::vector<Stream> out;
    for (const auto& f : probe(path, "", "stream=time_base,start_time"))
        out.push_back({std::stod(f.at(0)) / std::stod(f[0].substr(f[0].find('/') + 1)),
                       f.at(1).empty() ? -1.0 : std::stod(f[1])});
    return out;
}

// The decoded frames as "stream,size,md5" lines (ffmpeg's framemd5 without
// the timestamps, which packets() gives), each stream's frames in decoding
// order, stream after stream; "ffmpeg failed: ..." when ffmpeg fails.
inline std::string frame_digests(const std::string& path, const std::string& input_options = "") {
    const tool::Result r = external("ffmpeg", "-nostdin -v error " + input_options, {"-i", path, "-f", "framemd5", "-"});
    if (r.status != 0) return "ffmpeg failed: " + r.err;
    std::map<std::string, std::string> by_stream;
    std::smatch m;  // stream, dts, pts, duration, size, md5
    static const std::regex frame(R"(^(\d+), *-?\d+, *-?\d+, *-?\d+, *(\d+), *(\w+))");
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (std::regex_search(line, m, frame)) by_stream[m[1]] += m[1].str() + "," + m[2].str() + "," + m[3].str() + "\n";
    std::string out;
    for (const auto& s : by_stream) out += s.second;
    return out;
}

// What ffmpeg prints while decoding the whole file, addresses masked; empty
// when it read every packet without a word.
inline std::string ffmpeg_complaints(const std::string& path, const std::string& input_options = "") {
    const tool::Result r = external("ffmpeg", "-nostdin -v error " + input_options, {"-i", path, "-f", "null", "-"});
    const std::string text = r.status != 0 && r.err.empty() ? "ffmpeg ended with status " + std::to_string(r.status) : r.err;
    return std::regex_replace(text, std::regex("0x[0-9a-fA-F]+"), "0x?");
}

// GStreamer's playbin decoding every stream into fake sinks.
inline tool::Result gstreamer_play(const std::string& path) {
    return external("gst-launch-1.0", "", {"-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"});
}

// The number of streams gst-discoverer-1.0 lists.
inline int gstreamer_stream_count(const std::string& path) {
    const std::string out = external("gst-discoverer-1.0", "", {path}).out;
    static const std::regex stream("(video|audio|subtitles)( #[0-9]+)?:");
    return static_cast<int>(std::distance(std::sregex_iterator(out.begin(), out.end(), stream), std::sregex_iterator()));
}

}  // namespace media
