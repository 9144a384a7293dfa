#include "bench/fragment_bytes.h"

#include "atoms/be.h"
#include "atoms/fourcc.h"

namespace {

// tfhd: base data offset present.
constexpr uint32_t kTfhdBaseDataOffset = 0x000001;
// trun: data offset, then per sample duration, size, flags and, for video,
// composition offset.
constexpr uint32_t kTrunAudio = 0x000701;
constexpr uint32_t kTrunVideo = 0x000F01;

// Writes one traf; returns where its run's data offset field sits so that it
// can be filled in once the moof's size is known.
size_t traf(BeWriter& w, uint32_t track_id, uint64_t moof_offset, const PlannedRun& run, bool with_cto) {
    size_t at = w.begin_atom(fourcc("traf"));
    size_t tfhd = w.begin_atom(fourcc("tfhd"));
    w.version_flags(0, kTfhdBaseDataOffset);
    w.u32(track_id);
    w.u64(moof_offset);
    w.end_atom(tfhd);

    size_t tfdt = w.begin_atom(fourcc("tfdt"));
    w.version_flags(1, 0);
    w.u64(run.decode_time);
    w.end_atom(tfdt);

    size_t trun = w.begin_atom(fourcc("trun"));
    w.version_flags(0, with_cto ? kTrunVideo : kTrunAudio);
    w.u32(static_cast<uint32_t>(run.samples.size()));
    const size_t data_offset_at = w.size();
    w.u32(0);
    for (const PlannedSample& s : run.samples) {
        w.u32(s.duration);
        w.u32(s.size);
        w.u32(s.flags);
        if (with_cto) w.u32(s.composition_offset);
    }
    w.end_atom(trun);
    w.end_atom(at);
    return data_offset_at;
}

}  // namespace

void build_fragment(const PlannedFragment& fragment, uint64_t moof_offset, FragmentBytes& out) {
    out.head.clear();
    BeWriter w(out.head);
    size_t moof = w.begin_atom(fourcc("moof"));
    size_t mfhd = w.begin_atom(fourcc("mfhd"));
    w.version_flags(0, 0);
    w.u32(fragment.sequence_number);
    w.end_atom(mfhd);
    const size_t video_offset_at = traf(w, plan::kVideoTrackId, moof_offset, fragment.video, true);
    const size_t audio_offset_at = traf(w, plan::kAudioTrackId, moof_offset, fragment.audio, false);
    w.end_atom(moof);

    // The mdat follows the moof; video first, then audio.
    const uint64_t video_bytes = fragment.video.payload_bytes();
    const uint64_t audio_bytes = fragment.audio.payload_bytes();
    const size_t video_data = w.size() + 8;
    w.patch_u32(video_offset_at, static_cast<uint32_t>(video_data));
    w.patch_u32(audio_offset_at, static_cast<uint32_t>(video_data + video_bytes));
    out.payload_bytes = video_bytes + audio_bytes;
    w.u32(static_cast<uint32_t>(8 + out.payload_bytes));
    w.u32(fourcc("mdat"));
}
