#include "tests/support/media.h"

#include <algorithm>
#include <map>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace media {

namespace {

tool::Result external(const std::string& program, std::vector<std::string> args,
                      const std::string& input_options = "", size_t options_at = 0) {
    std::istringstream words(input_options);
    for (std::string w; words >> w;) args.insert(args.begin() + static_cast<long>(options_at++), w);
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
double seconds_of(const std::string& f) { return f == "N/A" || f.empty() ? -1.0 : std::stod(f); }

// ffprobe's lines of the entries asked, as fields in the order ffprobe gives.
std::vector<std::vector<std::string>> probe(const std::string& path, const std::string& input_options,
                                            const std::string& entries) {
    const tool::Result r =
        external("ffprobe", {"-v", "error", "-show_entries", entries, "-of", "csv=p=0", path}, input_options, 2);
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
    for (const auto& f : probe(path, input_options, "packet=stream_index,pts,dts,duration,size,pos,flags")) {
        if (f.size() < 7) throw std::runtime_error("unexpected ffprobe packet line");
        out.push_back({static_cast<unsigned>(std::stoul(f[0])), time_of(f[1]), time_of(f[2]), time_of(f[3]),
                       std::stoull(f[4]), f[5] == "N/A" ? 0 : std::stoull(f[5]), f[6].find('K') != std::string::npos});
    }
    return out;
}

std::vector<Stream> streams(const std::string& path, bool count_frames) {
    std::vector<Stream> out;
    for (const auto& f : probe(path, count_frames ? "-count_frames" : "",
                               std::string("stream=codec_type,time_base,start_time,duration") +
                                   (count_frames ? ",nb_read_frames" : ""))) {
        Stream s{f.at(0), seconds_of(f.at(2)), seconds_of(f.at(3)), 0, -1};
        const size_t slash = f.at(1).find('/');
        if (slash != std::string::npos) s.time_base = std::stod(f[1]) / std::stod(f[1].substr(slash + 1));
        if (count_frames && f.size() > 4 && f[4] != "N/A") s.frames = std::stol(f[4]);
        out.push_back(s);
    }
    return out;
}

std::string frame_digests(const std::string& path, const std::string& input_options) {
    const tool::Result r =
        external("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "framemd5", "-"}, input_options, 3);
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
    const tool::Result r =
        external("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"}, input_options, 3);
    std::string text = r.err;
    if (r.status != 0 && text.empty()) text = "ffmpeg ended with status " + std::to_string(r.status) + "\n";
    return std::regex_replace(text, std::regex("0x[0-9a-fA-F]+"), "0x?");
}

std::string gstreamer_missing() {
    static const std::string reason = [] {
        for (const char* program : {"gst-launch-1.0", "gst-inspect-1.0", "gst-discoverer-1.0"})
            if (!tool::executable_in_path(program)) return std::string(program) + " is not installed";
        for (const char* element : {"qtdemux", "playbin", "fakesink", "avdec_h264", "avdec_aac"})
            if (external("gst-inspect-1.0", {element}).status != 0)
                return std::string("GStreamer element ") + element + " is missing";
        return std::string();
    }();
    return reason;
}

tool::Result gstreamer_play(const std::string& path) {
    return external("gst-launch-1.0",
                    {"-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"});
}

int gstreamer_stream_count(const std::string& path) {
    const std::string out = external("gst-discoverer-1.0", {path}).out;
    static const std::regex stream("(video|audio|subtitles)( #[0-9]+)?:");
    return static_cast<int>(std::distance(std::sregex_iterator(out.begin(), out.end(), stream), std::sregex_iterator()));
}

}  // namespace media
