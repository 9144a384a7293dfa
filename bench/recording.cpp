#include "bench/recording.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "atoms/be.h"
#include "atoms/file_io.h"
#include "tests/support/mp4_builder.h"

namespace {

constexpr uint32_t kVideoTimescale = 30000;
constexpr uint32_t kAudioTimescale = 44100;
constexpr uint32_t kFrameTicks = 1000;
constexpr uint32_t kAudioFrameTicks = 1024;
constexpr uint32_t kFramesPerFragment = 60;
constexpr uint32_t kSyncFlags = 0x02000000;     // depends on no other sample
constexpr uint32_t kNonSyncFlags = 0x01010000;  // depends on others, not a sync sample

// The samples' sizes and durations, from a fixed pseudo-random sequence:
// the same file on every run.
class SampleSource {
public:
    explicit SampleSource(Kind kind) : kind_(kind) {}

    // Decode order I P B B P B B ...: the key frame leads, each P frame is
    // shown after the two B frames that follow it.
    mp4b::Sample video(uint32_t index_in_fragment) {
        uint32_t duration = kFrameTicks;
        if (kind_ == Kind::varying) {
            // No two neighbours alike: the time-to-sample table gets one
            // entry per sample.
            do {
                duration = kFrameTicks - 3 + jitter(7);
            } while (duration == last_duration_);
            last_duration_ = duration;
        }
        if (index_in_fragment == 0) return {duration, 90000 + jitter(30000), kSyncFlags, kFrameTicks};
        if (index_in_fragment % 3 == 1) return {duration, 14000 + jitter(12000), kNonSyncFlags, 3 * kFrameTicks};
        return {duration, 4000 + jitter(5000), kNonSyncFlags, 0};
    }

    mp4b::Sample audio() { return {kAudioFrameTicks, 340 + jitter(64), kSyncFlags, 0}; }

private:
    uint32_t jitter(uint32_t span) {
        random_ = random_ * 1664525u + 1013904223u;
        return random_ / 65536u % span;
    }

    Kind kind_;
    uint32_t last_duration_ = 0;
    uint32_t random_ = 0x2545F491;
};

}  // namespace

const char* kind_name(Kind t) {
    return t == Kind::constant ? "constant" : t == Kind::varying ? "varying" : "indexed";
}

bool write_recording(const std::string& path, Kind kind, uint64_t total_samples, Recording& out,
                     std::string& error) {
    using namespace mp4b;
    out = Recording{};
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    // Writes the atoms at the end of the file, then leaves a hole of `hole` bytes.
    auto put = [&](const std::vector<Atom>& atoms, uint64_t hole) {
        const Bytes bytes = serialise(atoms);
        if (!write_buffer_at(fd, static_cast<off_t>(out.size), bytes)) return false;
        out.written.push_back({out.size, bytes.size()});
        out.size += bytes.size() + hole;
        return true;
    };
    // The builder's minimal tracks have an empty sample description, which
    // the conversion only carries over.
    const Atom moov = movie({minimal_track(1, "vide", kVideoTimescale), minimal_track(2, "soun", kAudioTimescale)},
                            true, {1, 2});
    bool ok = put({ftyp("isom", 512, {"isom", "iso2", "avc1", "mp41"}), moov}, 0);
    SampleSource source(kind);
    std::vector<TrackRun> runs{{1, 0, {}}, {2, 0, {}}};  // video, audio
    // The tfra entries: the video's decode time, the moof's offset, and its
    // traf, trun and sample numbers in one byte each.
    Bytes index;
    BeWriter entries(index);
    for (uint64_t left = total_samples; ok && left > 0;) {
        TrackRun& video = runs[0];
        TrackRun& audio = runs[1];
        // 2 s of video, and the audio frames that start before its end.
        uint64_t video_n = kFramesPerFragment;
        const uint64_t video_end = video.decode_time + video_n * kFrameTicks;
        const uint64_t audio_frame = uint64_t{kAudioFrameTicks} * kVideoTimescale;  // in ticks of both rates
        uint64_t audio_n = (video_end * kAudioTimescale + audio_frame - 1) / audio_frame - out.audio_samples;
        if (video_n + audio_n > left) {
            // The last fragment is cut short, both tracks in proportion, so
            // that the file holds exactly the samples asked for.
            const uint64_t full = video_n + audio_n;
            video_n = std::clamp<uint64_t>(left * kFramesPerFragment / full, 1, left);
            audio_n = std::min(audio_n, left - video_n);
            video_n = left - audio_n;
        }
        video.samples.clear();
        audio.samples.clear();
        for (uint32_t i = 0; i < video_n; ++i) video.samples.push_back(source.video(i));
        for (uint64_t i = 0; i < audio_n; ++i) audio.samples.push_back(source.audio());
        // The track fragments give the moof's position as their base data
        // offset, as most recorders do; the mdat is its header alone.
        const uint64_t payload = video.data_bytes() + audio.data_bytes();
        const auto sequence = static_cast<uint32_t>(++out.fragments);
        entries.u64(video.decode_time);
        entries.u64(out.size);
        entries.bytes(std::vector<unsigned char>{1, 1, 1});
        ok = put({fragment(sequence, runs, out.size), raw("mdat").force_size(8 + payload)}, payload);
        for (const Sample& s : video.samples) video.decode_time += s.duration;
        audio.decode_time += audio_n * kAudioFrameTicks;
        out.video_samples += video_n;
        out.audio_samples += audio_n;
        left -= video_n + audio_n;
    }
    // An mfra, as recorders end a fragmented file; the file then ends in
    // written bytes rather than in a hole.
    std::vector<Atom> mfra;
    if (kind == Kind::indexed) {
        Bytes tfra;
        BeWriter w(tfra);
        w.u32(1);  // the video track
        w.u32(0);  // one byte for each number
        w.count32(out.fragments);
        w.bytes(index);
        mfra.push_back(full("tfra", 1, 0, tfra));
    }
    Bytes mfro(4);
    be::put_u32(mfro.data(), static_cast<uint32_t>(serialise({container("mfra", mfra)}).size() + 16));
    mfra.push_back(full("mfro", 0, 0, mfro));
    ok = ok && put({container("mfra", mfra)}, 0);
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    if (close(fd) != 0 && ok) {
        error = "cannot close " + path + ": " + std::strerror(errno);
        ok = false;
    }
    return ok;
}
