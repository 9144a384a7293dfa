// What the damaged-input tests share: running the tool with a time limit,
// the media oracles (ffmpeg, ffprobe, GStreamer), and a small atom tree of a
// file image so that rows can name the atom they damage by its path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/atom_bytes.h"
#include "tests/support/tool_runner.h"

namespace dmg {

using tool::Bytes;

// A run of the tool that takes longer than this is a hang.
constexpr int kTimeoutSeconds = 20;

// The exit status (-1 when it was killed for running past its time),
// whether it was, and what it printed.
using Outcome = tool::Result;

// Runs the tool with its memory capped (see tool::RunOptions::cap_memory)
// and the time limit above.
Outcome run_tool(const std::vector<std::string>& args);

// True when the text holds a sanitizer's report.
bool has_sanitizer_report(const std::string& err);

// Number of lines in a text whose every line ends in a newline, else -1.
int line_count(const std::string& text);

// What `ffmpeg -v error -i F -f null -` prints, object addresses masked so
// that two runs compare equal. Empty means that ffmpeg read every packet
// without a word.
std::string ffmpeg_complaints(const std::string& path);

struct Packet {
    unsigned stream = 0;
    uint64_t pos = 0;
    uint64_t size = 0;
};
// The packets ffprobe sees, in its order.
std::vector<Packet> probe_packets(const std::string& path);
// Packets per stream; streams beyond the last packet's are counted as 0 up
// to `streams`.
std::vector<size_t> per_stream(const std::vector<Packet>& packets, size_t streams = 0);
std::vector<size_t> per_stream_if(const std::vector<Packet>& packets, size_t streams,
                                  const std::function<bool(const Packet&)>& keep);

// Why GStreamer cannot be used here, or "" when it can.
std::string gstreamer_missing();
// Plays the file through GStreamer's demuxer and decoders into fake sinks.
Outcome gstreamer_play(const std::string& path);

// An atom of a file image. Sizes 0 and 1 are resolved as the file format
// says; the walk of a level stops at a header that does not fit or a size
// below its header.
struct Node {
    std::string type;
    uint64_t start = 0;
    uint64_t header = 8;
    uint64_t size = 0;
    std::vector<Node> kids;

    uint64_t body() const { return start + header; }
    uint64_t end() const { return start + size; }
};

std::vector<Node> parse_tree(const Bytes& bytes);
// The atom at a path such as "moov/trak#2/mdia/minf/stbl/stsz" (#n: the n-th
// of that type at its level, from 1). Throws when there is none.
const Node& find(const std::vector<Node>& top, const std::string& path);
// Every atom of the type at that level.
std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type);

void put_u32(Bytes& bytes, uint64_t at, uint32_t value);
void put_u64(Bytes& bytes, uint64_t at, uint64_t value);
void put_type(Bytes& bytes, uint64_t at, const std::string& type);
uint32_t get_u32(const Bytes& bytes, uint64_t at);
Bytes slice(const Bytes& bytes, uint64_t from, uint64_t to);
using atom_bytes::cat;
using tool::difference;

// A real fixture from the test data, read once.
struct Fixture {
    std::string name;
    std::string path;
    Bytes bytes;
    std::vector<Node> tree;
    std::vector<Packet> packets;  // of the original, from ffprobe
    size_t streams = 0;

    const Node& at(const std::string& p) const { return find(tree, p); }
};
const Fixture& fixture(const std::string& name);

}  // namespace dmg
