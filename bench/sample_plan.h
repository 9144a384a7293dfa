// What the synthetic recording holds, fragment by fragment: a 30 fps video
// track in 2 s groups of pictures and a 44.1 kHz audio track of 1024-sample
// frames (about 43 a second) covering the same time. Sizes, flags and
// composition offsets follow an I/P/B pattern with deterministic jitter.
#pragma once

#include <cstdint>
#include <vector>

enum class Timing {
    constant,  // every video frame lasts 1000 ticks
    varying,   // 997..1003 ticks, never twice the same in a row
};

const char* timing_name(Timing t);

namespace plan {
constexpr uint32_t kVideoTrackId = 1;
constexpr uint32_t kAudioTrackId = 2;
constexpr uint32_t kVideoTimescale = 30000;
constexpr uint32_t kAudioTimescale = 44100;
constexpr uint32_t kVideoFrameTicks = 1000;
constexpr uint32_t kAudioFrameTicks = 1024;
constexpr uint32_t kFramesPerFragment = 60;
constexpr uint32_t kSyncFlags = 0x02000000;     // depends on no other sample
constexpr uint32_t kNonSyncFlags = 0x01010000;  // depends on others, not a sync sample
}  // namespace plan

struct PlannedSample {
    uint32_t duration = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
    uint32_t composition_offset = 0;
};

struct PlannedRun {
    uint64_t decode_time = 0;
    std::vector<PlannedSample> samples;
    uint64_t payload_bytes() const;
};

struct PlannedFragment {
    uint32_t sequence_number = 0;
    PlannedRun video;
    PlannedRun audio;
};

class SamplePlan {
public:
    // total_samples counts the samples of both tracks together.
    SamplePlan(Timing timing, uint64_t total_samples);

    // Fills the next fragment; false once every sample has been planned.
    bool next(PlannedFragment& out);

    uint64_t video_samples() const { return video_samples_; }
    uint64_t audio_samples() const { return audio_samples_; }

private:
    uint32_t next_random();
    uint32_t jitter(uint32_t span) { return next_random() % span; }
    PlannedSample video_sample(uint32_t index_in_gop);
    PlannedSample audio_sample();
    uint32_t audio_frames_before(uint64_t video_end) const;

    Timing timing_;
    uint64_t remaining_;
    uint64_t video_time_ = 0;  // video ticks planned so far
    uint64_t audio_time_ = 0;  // audio ticks planned so far
    uint64_t video_samples_ = 0;
    uint64_t audio_samples_ = 0;
    uint32_t sequence_ = 0;
    uint32_t last_duration_ = 0;
    uint32_t random_state_ = 0x2545F491;
};
