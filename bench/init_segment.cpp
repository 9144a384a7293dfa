#include "bench/init_segment.h"

#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "bench/sample_plan.h"

namespace {

constexpr uint32_t kFixedOne = 0x00010000;  // 1.0 in 16.16

struct TrackTraits {
    uint32_t id;
    uint32_t handler;
    uint32_t timescale;
    const char* handler_name;
};

void unity_matrix(BeWriter& w) {
    const uint32_t m[9] = {kFixedOne, 0, 0, 0, kFixedOne, 0, 0, 0, 0x40000000};
    for (uint32_t v : m) w.u32(v);
}

void zeros(BeWriter& w, size_t n) {
    for (size_t i = 0; i < n; ++i) w.u8(0);
}

void text(BeWriter& w, const char* s) {
    w.bytes(reinterpret_cast<const unsigned char*>(s), std::strlen(s) + 1);
}

void full_atom_u32s(BeWriter& w, uint32_t type, uint32_t flags, std::initializer_list<uint32_t> fields) {
    size_t at = w.begin_atom(type);
    w.version_flags(0, flags);
    for (uint32_t v : fields) w.u32(v);
    w.end_atom(at);
}

void ftyp(BeWriter& w) {
    size_t at = w.begin_atom(fourcc("ftyp"));
    w.u32(fourcc("isom"));
    w.u32(512);
    for (uint32_t brand : {fourcc("isom"), fourcc("iso2"), fourcc("avc1"), fourcc("mp41")}) w.u32(brand);
    w.end_atom(at);
}

void mvhd(BeWriter& w) {
    size_t at = w.begin_atom(fourcc("mvhd"));
    w.version_flags(0, 0);
    w.u32(0);     // creation time
    w.u32(0);     // modification time
    w.u32(1000);  // timescale
    w.u32(0);     // duration: the fragments carry the time
    w.u32(kFixedOne);
    w.u16(0x0100);  // volume 1.0
    zeros(w, 10);
    unity_matrix(w);
    zeros(w, 24);
    w.u32(3);  // next track ID
    w.end_atom(at);
}

void tkhd(BeWriter& w, const TrackTraits& t) {
    const bool video = t.handler == fourcc("vide");
    size_t at = w.begin_atom(fourcc("tkhd"));
    w.version_flags(0, 3);  // enabled, in movie
    w.u32(0);
    w.u32(0);
    w.u32(t.id);
    w.u32(0);
    w.u32(0);  // duration
    zeros(w, 8);
    w.u16(0);  // layer
    w.u16(video ? 0 : 1);  // alternate group
    w.u16(video ? 0 : 0x0100);
    w.u16(0);
    unity_matrix(w);
    w.u32(video ? 1920 * kFixedOne : 0);
    w.u32(video ? 1080 * kFixedOne : 0);
    w.end_atom(at);
}

void mdhd(BeWriter& w, const TrackTraits& t) {
    size_t at = w.begin_atom(fourcc("mdhd"));
    w.version_flags(0, 0);
    w.u32(0);
    w.u32(0);
    w.u32(t.timescale);
    w.u32(0);
    w.u16(0x55C4);  // language "und"
    w.u16(0);
    w.end_atom(at);
}

void hdlr(BeWriter& w, const TrackTraits& t) {
    size_t at = w.begin_atom(fourcc("hdlr"));
    w.version_flags(0, 0);
    w.u32(0);
    w.u32(t.handler);
    zeros(w, 12);
    text(w, t.handler_name);
    w.end_atom(at);
}

void avc1_entry(BeWriter& w) {
    size_t at = w.begin_atom(fourcc("avc1"));
    zeros(w, 6);
    w.u16(1);  // data reference index
    zeros(w, 16);
    w.u16(1920);
    w.u16(1080);
    w.u32(0x00480000);  // 72 dpi
    w.u32(0x00480000);
    w.u32(0);
    w.u16(1);  // frame count
    zeros(w, 32);  // compressor name
    w.u16(0x0018);
    w.u16(0xFFFF);
    size_t avcc = w.begin_atom(fourcc("avcC"));
    const unsigned char sps[] = {0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0x84};
    const unsigned char pps[] = {0x68, 0xEB, 0xE3, 0xCB, 0x22, 0xC0};
    w.u8(1);
    w.u8(0x64);  // High profile
    w.u8(0);
    w.u8(0x28);  // level 4.0
    w.u8(0xFF);  // 4-byte NAL lengths
    w.u8(0xE1);  // one SPS
    w.u16(sizeof sps);
    w.bytes(sps, sizeof sps);
    w.u8(1);
    w.u16(sizeof pps);
    w.bytes(pps, sizeof pps);
    w.end_atom(avcc);
    w.end_atom(at);
}

void mp4a_entry(BeWriter& w) {
    size_t at = w.begin_atom(fourcc("mp4a"));
    zeros(w, 6);
    w.u16(1);
    zeros(w, 8);
    w.u16(2);   // channels
    w.u16(16);  // bits per sample
    w.u32(0);
    w.u32(plan::kAudioTimescale * kFixedOne);
    size_t esds = w.begin_atom(fourcc("esds"));
    w.version_flags(0, 0);
    // ES descriptor > decoder config (AAC LC) > AAC specific config (44.1 kHz
    // stereo), then the sync layer descriptor.
    const unsigned char descriptor[] = {0x03, 0x19, 0x00, 0x02, 0x00, 0x04, 0x11, 0x40, 0x15, 0x00,
                                        0x00, 0x00, 0x00, 0x01, 0xF4, 0x00, 0x00, 0x01, 0xF4, 0x00,
                                        0x05, 0x02, 0x12, 0x10, 0x06, 0x01, 0x02};
    w.bytes(descriptor, sizeof descriptor);
    w.end_atom(esds);
    w.end_atom(at);
}

void stbl(BeWriter& w, const TrackTraits& t) {
    size_t at = w.begin_atom(fourcc("stbl"));
    size_t stsd = w.begin_atom(fourcc("stsd"));
    w.version_flags(0, 0);
    w.u32(1);
    if (t.handler == fourcc("vide")) avc1_entry(w);
    else mp4a_entry(w);
    w.end_atom(stsd);
    full_atom_u32s(w, fourcc("stts"), 0, {0});
    full_atom_u32s(w, fourcc("stsc"), 0, {0});
    full_atom_u32s(w, fourcc("stsz"), 0, {0, 0});
    full_atom_u32s(w, fourcc("stco"), 0, {0});
    w.end_atom(at);
}

void minf(BeWriter& w, const TrackTraits& t) {
    size_t at = w.begin_atom(fourcc("minf"));
    if (t.handler == fourcc("vide")) {
        size_t vmhd = w.begin_atom(fourcc("vmhd"));
        w.version_flags(0, 1);
        zeros(w, 8);  // graphics mode, colour
        w.end_atom(vmhd);
    } else {
        full_atom_u32s(w, fourcc("smhd"), 0, {0});  // balance, reserved
    }
    size_t dinf = w.begin_atom(fourcc("dinf"));
    size_t dref = w.begin_atom(fourcc("dref"));
    w.version_flags(0, 0);
    w.u32(1);
    full_atom_u32s(w, fourcc("url "), 1, {});  // media in this file
    w.end_atom(dref);
    w.end_atom(dinf);
    stbl(w, t);
    w.end_atom(at);
}

void trak(BeWriter& w, const TrackTraits& t) {
    size_t at = w.begin_atom(fourcc("trak"));
    tkhd(w, t);
    size_t mdia = w.begin_atom(fourcc("mdia"));
    mdhd(w, t);
    hdlr(w, t);
    minf(w, t);
    w.end_atom(mdia);
    w.end_atom(at);
}

void mvex(BeWriter& w, std::initializer_list<uint32_t> track_ids) {
    size_t at = w.begin_atom(fourcc("mvex"));
    for (uint32_t id : track_ids) {
        // Sample description 1; every other default is given by the fragments.
        full_atom_u32s(w, fourcc("trex"), 0, {id, 1, 0, 0, 0});
    }
    w.end_atom(at);
}

}  // namespace

std::vector<unsigned char> build_init_segment() {
    const TrackTraits video{plan::kVideoTrackId, fourcc("vide"), plan::kVideoTimescale, "VideoHandler"};
    const TrackTraits audio{plan::kAudioTrackId, fourcc("soun"), plan::kAudioTimescale, "SoundHandler"};
    std::vector<unsigned char> out;
    BeWriter w(out);
    ftyp(w);
    size_t moov = w.begin_atom(fourcc("moov"));
    mvhd(w);
    trak(w, video);
    trak(w, audio);
    mvex(w, {video.id, audio.id});
    w.end_atom(moov);
    return out;
}
