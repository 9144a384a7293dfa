#include "tests/support/media.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace media {

namespace {

// Runs `program` with the words of `input_options` before `args`.
tool::Result external(const std::string& program, const std::string& input_options, std::vector<std::string> args) {
    std::istringstream words(input_options);
    args.insert(args.begin(), std::istream_iterator<std::string>(words), std::istream_iterator<std::string>());
    tool::RunOptions options;
    options.program = program;
    options.timeout_seconds = 120;
    return tool::run(args, options);
}

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

int64_t time_of(const std::string& f) { return f == "N/A" || f.empty() ? kNoTime : std::stoll(f); }

// ffprobe's lines of the entries asked, as fields in the order ffprobe gives.
std::vector<std::vector<std::string>> probe(const std::string& path, const std::string& input_options,
                                            const std::string& entries) {
    const tool::Result r = external("ffprobe", "-v error " + input_options, {"-show_entries", entries, "-of", "csv=p=0", path});
    if (r.status != 0) throw std::runtime_error("ffprobe failed on " + path + ": " + r.err);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) rows.push_back(split(line));
    return rows;
}

}  // namespace

std::vector<Packet> packets(const std::string& path, const std::string& input_options) {
    std::vector<Packet> out;
    for (const auto& f : probe(path, input_options, "packet=stream_index,pts,dts,duration,size,pos,flags"))
        out.push_back({static_cast<unsigned>(std::stoul(f.at(0))), time_of(f.at(1)), time_of(f.at(2)), time_of(f.at(3)),
                       std::stoull(f.at(4)), f.at(5) == "N/A" ? 0 : std::stoull(f[5]), f.at(6).find('K') != std::string::npos});
    return out;
}

std::vector<Stream> streams(const std::string& path) {
    std::vector<Stream> out;
    for (const auto& f : probe(path, "", "stream=time_base,start_time")) {
        const size_t slash = f.at(0).find('/');
        out.push_back({std::stod(f[0]) / std::stod(f[0].substr(slash + 1)), f.at(1) == "N/A" ? -1.0 : std::stod(f[1])});
    }
    return out;
}

std::string frame_digests(const std::string& path, const std::string& input_options) {
    const tool::Result r = external("ffmpeg", "-nostdin -v error " + input_options, {"-i", path, "-f", "framemd5", "-"});
    if (r.status != 0) return "ffmpeg failed: " + r.err;
    std::map<int, std::string> by_stream;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        line.erase(std::remove(line.begin(), line.end(), ' '), line.end());
        const std::vector<std::string> f = split(line);
        if (!line.empty() && line[0] != '#' && f.size() >= 6) by_stream[std::stoi(f[0])] += f[0] + "," + f[4] + "," + f[5] + "\n";
    }
    std::string out;
    for (const auto& s : by_stream) out += s.second;
    return out;
}

std::string ffmpeg_complaints(const std::string& path, const std::string& input_options) {
    const tool::Result r = external("ffmpeg", "-nostdin -v error " + input_options, {"-i", path, "-f", "null", "-"});
    const std::string text = r.status != 0 && r.err.empty() ? "ffmpeg ended with status " + std::to_string(r.status) : r.err;
    return std::regex_replace(text, std::regex("0x[0-9a-fA-F]+"), "0x?");
}

tool::Result gstreamer_play(const std::string& path) {
    return external("gst-launch-1.0", "", {"-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"});
}

int gstreamer_stream_count(const std::string& path) {
    const std::string out = external("gst-discoverer-1.0", "", {path}).out;
    static const std::regex stream("(video|audio|subtitles)( #[0-9]+)?:");
    return static_cast<int>(std::distance(std::sregex_iterator(out.begin(), out.end(), stream), std::sregex_iterator()));
}

}  // namespace media
