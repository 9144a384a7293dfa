#include "movie/sample_protection.h"

#include <algorithm>
#include <vector>

#include "atoms/child_walk.h"
#include "atoms/fourcc.h"

// Bodies read here (after the 8-byte header), all big-endian:
//   stsd  u8 version | u24 flags | u32 entry_count | the entries
//   schm  u8 version | u24 flags | u32 scheme_type | u32 scheme_version
//   tenc  u8 version | u24 flags | u8 reserved | u8 reserved or pattern
//         | u8 default_isProtected | u8 default_Per_Sample_IV_Size | 16 bytes KID
//   uuid  8974dbce-7be7-4c51-84f9-7148f9882554 (PIFF track encryption), then
//         u8 version | u24 flags | u24 AlgorithmID | u8 IV_size | 16 bytes KID

namespace {

constexpr size_t kStsdHeadBytes = 8;
constexpr size_t kIvSizeAt = 7;
constexpr size_t kUuidBytes = 16;
constexpr unsigned char kPiffTrackEncryption[kUuidBytes] = {0x89, 0x74, 0xDB, 0xCE, 0x7B, 0xE7, 0x4C, 0x51,
                                                            0x84, 0xF9, 0x71, 0x48, 0xF9, 0x88, 0x25, 0x54};
constexpr size_t kSchemeTypeAt = 4;

void read_schi(const ChildAtom& schi, SampleProtection& p) {
    walk_children(schi.body(), schi.body_len(), [&](const ChildAtom& c) {
        const unsigned char* body = c.body();
        size_t len = c.body_len();
        if (c.type == fourcc("uuid")) {
            if (len < kUuidBytes || !std::equal(kPiffTrackEncryption, kPiffTrackEncryption + kUuidBytes, body)) return;
            body += kUuidBytes;
            len -= kUuidBytes;
        } else if (c.type != fourcc("tenc")) {
            return;
        }
        if (len <= kIvSizeAt) return;
        p.known = true;
        p.per_sample_iv_size = body[kIvSizeAt];
    });
}

void read_sinf(const ChildAtom& sinf, SampleProtection& p) {
    walk_children(sinf.body(), sinf.body_len(), [&](const ChildAtom& c) {
        if (c.type == fourcc("schm") && c.body_len() >= kSchemeTypeAt + 4) {
            p.scheme_type = be::read_u32(c.body() + kSchemeTypeAt);
        } else if (c.type == fourcc("schi")) {
            read_schi(c, p);
        }
    });
}

// Where a sample entry's children begin, after its fixed fields: a visual
// entry's 78 bytes, an audio entry's 28 (QuickTime sound version 1 adds 16
// bytes, version 2 adds 36); an entry of another kind is tried at each.
std::vector<size_t> child_offsets(const ChildAtom& entry) {
    constexpr size_t kVisual = 78, kAudio = 28, kSoundVersionAt = 8;
    std::vector<size_t> at;
    if (entry.type != fourcc("encv") && entry.body_len() >= kSoundVersionAt + 2) {
        const uint16_t version = be::read_u16(entry.body() + kSoundVersionAt);
        at.push_back(kAudio + (version == 1 ? 16 : version == 2 ? 36 : 0));
    }
    if (entry.type != fourcc("enca")) at.push_back(kVisual);
    return at;
}

}  // namespace

SampleProtection sample_protection(const RawAtom& stsd, uint32_t description_index) {
    SampleProtection p;
    if (stsd.size() < 8 + kStsdHeadBytes || description_index == 0) return p;
    uint32_t index = 0;
    walk_children(stsd.data() + 8 + kStsdHeadBytes, stsd.size() - 8 - kStsdHeadBytes, [&](const ChildAtom& entry) {
        if (++index != description_index) return;
        for (size_t at : child_offsets(entry)) {
            if (at > entry.body_len() || p.known) continue;
            walk_children(entry.body() + at, entry.body_len() - at, [&](const ChildAtom& c) {
                if (c.type == fourcc("sinf") && !p.known) read_sinf(c, p);
            });
        }
    });
    return p;
}
