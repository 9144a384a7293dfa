#include "tests/damaged/damaged_support.h"

#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <stdexcept>

#include "atoms/be.h"

namespace dmg {

namespace {

// Runs another program, looked up in PATH, with a minute to finish.
Outcome external(const std::string& program, const std::vector<std::string>& args) {
    tool::RunOptions options;
    options.program = program;
    options.timeout_seconds = 60;
    return tool::run(args, options);
}

}  // namespace

Outcome run_tool(const std::vector<std::string>& args) {
    tool::RunOptions options;
    options.timeout_seconds = kTimeoutSeconds;
    options.cap_memory = true;
    return tool::run(args, options);
}

bool has_sanitizer_report(const std::string& err) {
    for (const char* word : {"runtime error", "AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer"}) {
        if (err.find(word) != std::string::npos) return true;
    }
    return false;
}

int line_count(const std::string& text) {
    if (!text.empty() && text.back() != '\n') return -1;
    int lines = 0;
    for (char c : text) lines += c == '\n' ? 1 : 0;
    return lines;
}

std::string ffmpeg_complaints(const std::string& path) {
    const Outcome o = external("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-f", "null", "-"});
    std::string text = o.err;
    if (o.status != 0 && text.empty()) text = "ffmpeg ended with status " + std::to_string(o.status) + "\n";
    static const std::regex address("0x[0-9a-fA-F]+");
    return std::regex_replace(text, address, "0x?");
}

std::vector<Packet> probe_packets(const std::string& path) {
    const Outcome o =
        external("ffprobe", {"-v", "error", "-show_entries", "packet=stream_index,pos,size", "-of", "csv=p=0", path});
    if (o.status != 0) throw std::runtime_error("ffprobe failed on " + path + ": " + o.err);
    std::vector<Packet> packets;
    std::istringstream lines(o.out);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        Packet p;
        char c1 = 0, c2 = 0;
        std::istringstream fields(line);
        unsigned long long size = 0, pos = 0;
        // ffprobe lists the entries in its own order: stream_index, size, pos.
        if (!(fields >> p.stream >> c1 >> size >> c2 >> pos) || c1 != ',' || c2 != ',')
            throw std::runtime_error("unexpected ffprobe line: " + line);
        p.pos = pos;
        p.size = size;
        packets.push_back(p);
    }
    return packets;
}

std::vector<size_t> per_stream_if(const std::vector<Packet>& packets, size_t streams,
                                  const std::function<bool(const Packet&)>& keep) {
    std::vector<size_t> counts(streams, 0);
    for (const Packet& p : packets) {
        if (p.stream >= counts.size()) counts.resize(p.stream + 1, 0);
        if (keep(p)) ++counts[p.stream];
    }
    return counts;
}

std::vector<size_t> per_stream(const std::vector<Packet>& packets, size_t streams) {
    return per_stream_if(packets, streams, [](const Packet&) { return true; });
}

std::string gstreamer_missing() {
    static const std::string reason = [] {
        if (!tool::executable_in_path("gst-launch-1.0") || !tool::executable_in_path("gst-inspect-1.0"))
            return std::string("gst-launch-1.0 is not installed (gstreamer1.0-tools)");
        for (const char* element : {"qtdemux", "playbin", "fakesink", "avdec_h264", "avdec_aac"}) {
            if (external("gst-inspect-1.0", {element}).status != 0)
                return std::string("GStreamer element ") + element +
                       " is missing (gstreamer1.0-plugins-base, -good, -libav)";
        }
        return std::string();
    }();
    return reason;
}

Outcome gstreamer_play(const std::string& path) {
    return external("gst-launch-1.0",
                    {"-q", "playbin", "uri=file://" + path, "video-sink=fakesink", "audio-sink=fakesink"});
}

namespace {

bool is_container(const std::string& type) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "mvex",
                                                     "moof", "traf", "edts", "dinf", "mfra"};
    return containers.count(type) != 0;
}

std::vector<Node> parse_level(const Bytes& bytes, uint64_t from, uint64_t to) {
    std::vector<Node> level;
    uint64_t at = from;
    while (to - at >= 8 && at < to) {
        Node n;
        n.start = at;
        n.type.assign(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
        uint64_t size = be::read_u32(bytes.data() + at);
        if (size == 1) {
            if (to - at < 16) break;
            size = be::read_u64(bytes.data() + at + 8);
            n.header = 16;
        } else if (size == 0) {
            size = to - at;
        }
        if (size < n.header) break;
        n.size = size;
        const uint64_t end = size > to - at ? to : at + size;
        if (is_container(n.type)) n.kids = parse_level(bytes, n.body(), end);
        level.push_back(std::move(n));
        at = end;
    }
    return level;
}

}  // namespace

std::vector<Node> parse_tree(const Bytes& bytes) { return parse_level(bytes, 0, bytes.size()); }

std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type) {
    std::vector<const Node*> out;
    for (const Node& n : level)
        if (n.type == type) out.push_back(&n);
    return out;
}

const Node& find(const std::vector<Node>& top, const std::string& path) {
    const std::vector<Node>* level = &top;
    const Node* node = nullptr;
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        size_t index = 1;
        const size_t hash = part.find('#');
        if (hash != std::string::npos) {
            index = std::stoul(part.substr(hash + 1));
            part = part.substr(0, hash);
        }
        const std::vector<const Node*> matches = all_of(*level, part);
        if (index == 0 || matches.size() < index) throw std::runtime_error("no atom at " + path);
        node = matches[index - 1];
        level = &node->kids;
    }
    if (node == nullptr) throw std::runtime_error("empty atom path");
    return *node;
}

void put_u32(Bytes& bytes, uint64_t at, uint32_t value) { be::put_u32(bytes.data() + at, value); }
void put_u64(Bytes& bytes, uint64_t at, uint64_t value) { be::put_u64(bytes.data() + at, value); }
void put_type(Bytes& bytes, uint64_t at, const std::string& type) { std::memcpy(bytes.data() + at, type.data(), 4); }
uint32_t get_u32(const Bytes& bytes, uint64_t at) { return be::read_u32(bytes.data() + at); }

Bytes slice(const Bytes& bytes, uint64_t from, uint64_t to) {
    return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.begin() + static_cast<std::ptrdiff_t>(to));
}

const Fixture& fixture(const std::string& name) {
    static std::map<std::string, std::unique_ptr<Fixture>> cache;
    std::unique_ptr<Fixture>& slot = cache[name];
    if (!slot) {
        auto f = std::make_unique<Fixture>();
        f->name = name;
        f->path = tool::test_data_dir() + "/" + name;
        f->bytes = tool::read_file(f->path);
        f->tree = parse_tree(f->bytes);
        f->packets = probe_packets(f->path);
        f->streams = per_stream(f->packets).size();
        slot = std::move(f);
    }
    return *slot;
}

}  // namespace dmg
