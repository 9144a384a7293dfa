#include "tests/support/media.h"

#include <regex>
#include <sstream>
#include <stdexcept>

namespace media {

namespace {

tool::Result external(const std::string& program, const std::vector<std::string>& args) {
    tool::RunOptions options;
    options.program = program;
    options.timeout_seconds = 120;
    return tool::run(args, options);
}

std::vector<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> out;
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> out;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) out.push_back(f);
    return out;
}

int64_t time_of(const std::string& f) { return f == "N/A" || f.empty() ? kNoTime : std::stoll(f); }
double seconds_of(const std::string& f) { return f == "N/A" || f.empty() ? -1.0 : std::stod(f); }

// ffprobe's lines for one section, its entries in the order asked.
std::vector<std::vector<std::string>> probe(const std::string& path, const std::string& input_options,
                                            const std::vector<std::string>& query) {
    std::vector<std::string> args = {"-v", "error"};
    for (const std::string& w : words(input_options)) args.push_back(w);
    args.insert(args.end(), query.begin(), query.end());
    args.insert(args.end(), {"-of", "csv=p=0", path});
    const tool::Result r = external("ffprobe", args);
    if (r.status != 0) throw std::runtime_error("ffprobe failed on " + path + ": " + r.err);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty()) rows.push_back(fields(line));
    return rows;
}

}  // namespace

std::vector<Packet> packets(const std::string& path, const std::string& input_options) {
    std::vector<Packet> out;
    // ffprobe writes the entries in its own order.
    for (const auto& f : probe(path, input_options,
                               {"-show_entries", "packet=stream_index,pts,dts,duration,size,pos,flags"})) {
        if (f.size() < 7) throw std::runtime_error("unexpected ffprobe packet line");
        Packet p;
        p.stream = static_cast<unsigned>(std::stoul(f[0]));
        p.pts = time_of(f[1]);
        p.dts = time_of(f[2]);
        p.duration = time_of(f[3]);
        p.size = std::stoull(f[4]);
        p.pos = f[5] == "N/A" ? 0 : std::stoull(f[5]);
        p.key = f[6].find('K') != std::string::npos;
        out.push_back(p);
    }
    return out;
}

std::vector<Stream> streams(const std::string& path, bool count_frames) {
    std::vector<Stream> out;
    const std::string entries = std::string("stream=codec_type,start_time,duration") + (count_frames ? ",nb_read_frames" : "");
    for (const auto& f : probe(path, count_frames ? "-count_frames" : "", {"-show_entries", entries})) {
        Stream s;
        s.codec_type = f.at(0);
        s.start_time = seconds_of(f.at(1));
        s.duration = seconds_of(f.at(2));
        if (count_frames && f.size() > 3) s.frames = f[3] == "N/A" ? -1 : std::stol(f[3]);
        out.push_back(s);
    }
    return out;
}

std::string frame_digests(const std::string& path, const std::string& input_options) {
    std::vector<std::string> args = {"-nostdin", "-v", "error"};
    for (const std::string& w : words(input_options)) args.push_back(w);
    args.insert(args.end(), {"-i", path, "-f", "framemd5", "-"});
    const tool::Result r = external("ffmpeg", args);
    std::istringstream lines(r.out);
    std::string out;
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] != '#') out += line + "\n";
    return r.status == 0 ? out : "ffmpeg failed: " + r.err;
}

std::string ffmpeg_complaints(const std::string& path) {
    const tool::Result r = external("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
    std::string text = r.err;
    if (r.status != 0 && text.empty()) text = "ffmpeg ended with status " + std::to_string(r.status) + "\n";
    static const std::regex address("0x[0-9a-fA-F]+");
    return std::regex_replace(text, address, "0x?");
}

std::string gstreamer_missing() {
    static const std::string reason = [] {
        for (const char* program : {"gst-launch-1.0", "gst-inspect-1.0", "gst-discoverer-1.0"})
            if (!tool::executable_in_path(program)) return std::string(program) + " is not installed";
        for (const char* element : {"qtdemux", "playbin", "fakesink", "avdec_h264", "avdec_aac"}) {
            if (external("gst-inspect-1.0", {element}).status != 0)
                return std::string("GStreamer element ") + element + " is missing";
        }
        return std::string();
    }();
    return reason;
}

tool::Result gstreamer_play(const std::string& path) {
    return external("gst-launch-1.0",
                    {"-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"});
}

int gstreamer_stream_count(const std::string& path) {
    const tool::Result r = external("gst-discoverer-1.0", {path});
    static const std::regex stream("(video|audio|subtitles)( #[0-9]+)?:");
    const std::string& out = r.out;
    return static_cast<int>(std::distance(std::sregex_iterator(out.begin(), out.end(), stream), std::sregex_iterator()));
}

}  // namespace media
