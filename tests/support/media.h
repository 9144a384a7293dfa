// What other programs make of a file: ffprobe's packets and streams, ffmpeg's
// decoded frames and complaints, GStreamer's playback. These are the
// independent judges of a conversion; the tests never read a converted file's
// sample tables with the tool's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/tool_runner.h"

namespace media {

constexpr int64_t kNoTime = INT64_MIN;  // ffprobe's N/A

struct Packet {
    unsigned stream = 0;
    int64_t pts = kNoTime, dts = kNoTime, duration = kNoTime;  // in the stream's time base
    uint64_t size = 0;
    uint64_t pos = 0;
    bool key = false;
};
// Every packet, in ffprobe's order. Throws when ffprobe fails.
std::vector<Packet> packets(const std::string& path, const std::string& input_options = "");

struct Stream {
    double time_base = 0;   // seconds per tick
    double start_time = 0;  // seconds; -1 when unknown
};
std::vector<Stream> streams(const std::string& path);

// The decoded frames as "stream,size,md5" lines (ffmpeg's framemd5 without
// the timestamps, which packets() gives), each stream's frames in decoding
// order, stream after stream; "ffmpeg failed: ..." when ffmpeg fails.
std::string frame_digests(const std::string& path, const std::string& input_options = "");
// What ffmpeg prints while decoding the whole file, addresses masked; empty
// when it read every packet without a word.
std::string ffmpeg_complaints(const std::string& path, const std::string& input_options = "");

// GStreamer's playbin decoding every stream into fake sinks.
tool::Result gstreamer_play(const std::string& path);
// The number of streams gst-discoverer-1.0 lists.
int gstreamer_stream_count(const std::string& path);

}  // namespace media
