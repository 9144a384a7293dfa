#include "bench/sample_plan.h"

#include <algorithm>

const char* timing_name(Timing t) { return t == Timing::constant ? "constant" : "varying"; }

uint64_t PlannedRun::payload_bytes() const {
    uint64_t bytes = 0;
    for (const PlannedSample& s : samples) bytes += s.size;
    return bytes;
}

SamplePlan::SamplePlan(Timing timing, uint64_t total_samples) : timing_(timing), remaining_(total_samples) {}

uint32_t SamplePlan::next_random() {
    // A linear congruential generator: the same file on every run.
    random_state_ = random_state_ * 1664525u + 1013904223u;
    return random_state_ / 65536u;
}

PlannedSample SamplePlan::video_sample(uint32_t index_in_gop) {
    PlannedSample s;
    if (timing_ == Timing::constant) {
        s.duration = plan::kVideoFrameTicks;
    } else {
        // A variable frame rate recording: no two neighbours alike, so the
        // time-to-sample table gets one entry per sample.
        do {
            s.duration = plan::kVideoFrameTicks - 3 + jitter(7);
        } while (s.duration == last_duration_);
    }
    last_duration_ = s.duration;
    // Decode order I P B B P B B ...: the key frame leads, P frames are
    // shown after the two B frames that follow them.
    if (index_in_gop == 0) {
        s.size = 90000 + jitter(30000);
        s.flags = plan::kSyncFlags;
        s.composition_offset = plan::kVideoFrameTicks;
    } else if (index_in_gop % 3 == 1) {
        s.size = 14000 + jitter(12000);
        s.flags = plan::kNonSyncFlags;
        s.composition_offset = 3 * plan::kVideoFrameTicks;
    } else {
        s.size = 4000 + jitter(5000);
        s.flags = plan::kNonSyncFlags;
        s.composition_offset = 0;
    }
    return s;
}

PlannedSample SamplePlan::audio_sample() {
    PlannedSample s;
    s.duration = plan::kAudioFrameTicks;
    s.size = 340 + jitter(64);
    s.flags = plan::kSyncFlags;
    return s;
}

// Audio frames that start before the given video time.
uint32_t SamplePlan::audio_frames_before(uint64_t video_end) const {
    uint32_t n = 0;
    uint64_t t = audio_time_;
    while (t * plan::kVideoTimescale < video_end * plan::kAudioTimescale) {
        t += plan::kAudioFrameTicks;
        ++n;
    }
    return n;
}

bool SamplePlan::next(PlannedFragment& out) {
    if (remaining_ == 0) return false;
    uint64_t video_n = plan::kFramesPerFragment;
    uint64_t audio_n = audio_frames_before(video_time_ + uint64_t{plan::kFramesPerFragment} * plan::kVideoFrameTicks);
    if (video_n + audio_n > remaining_) {
        // The last fragment is cut short, keeping both tracks in proportion,
        // so the file holds exactly the samples asked for.
        const uint64_t full = video_n + audio_n;
        video_n = std::clamp<uint64_t>(remaining_ * plan::kFramesPerFragment / full, 1, remaining_);
        audio_n = std::min(audio_n, remaining_ - video_n);
        video_n = remaining_ - audio_n;
    }

    out.sequence_number = ++sequence_;
    out.video.decode_time = video_time_;
    out.video.samples.clear();
    for (uint32_t i = 0; i < video_n; ++i) {
        out.video.samples.push_back(video_sample(i));
        video_time_ += out.video.samples.back().duration;
    }
    out.audio.decode_time = audio_time_;
    out.audio.samples.clear();
    for (uint32_t i = 0; i < audio_n; ++i) {
        out.audio.samples.push_back(audio_sample());
        audio_time_ += plan::kAudioFrameTicks;
    }
    video_samples_ += video_n;
    audio_samples_ += audio_n;
    remaining_ -= video_n + audio_n;
    return true;
}
