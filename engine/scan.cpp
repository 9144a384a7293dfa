#include "engine/scan.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"

namespace {

// The ISO base media family as packagers and recorders label it (DASH, CMAF,
// Smooth Streaming, iTunes, Flash, 3GPP), and QuickTime: a fragmented file of
// any of them converts the same way.
constexpr uint32_t kMp4Brands[] = {
    fourcc("isom"), fourcc("iso2"), fourcc("iso3"), fourcc("iso4"), fourcc("iso5"), fourcc("iso6"),
    fourcc("iso7"), fourcc("iso8"), fourcc("iso9"), fourcc("mp41"), fourcc("mp42"), fourcc("mp71"),
    fourcc("avc1"), fourcc("dash"), fourcc("dsms"), fourcc("msdh"), fourcc("msix"), fourcc("cmfc"),
    fourcc("cmf2"), fourcc("isml"), fourcc("piff"), fourcc("M4V "), fourcc("M4A "), fourcc("M4B "),
    fourcc("M4P "), fourcc("f4v "), fourcc("3gp4"), fourcc("3gp5"), fourcc("3gp6"), fourcc("3gp7"),
    fourcc("3gp8"), fourcc("3gp9"), fourcc("3g2a"), fourcc("qt  "),
};

}  // namespace

bool is_ftyp_mp4_brand(unsigned int brand) {
    return std::find(std::begin(kMp4Brands), std::end(kMp4Brands), brand) != std::end(kMp4Brands);
}

bool check_ftyp(const unsigned char* data, int len) {
    if (len < 8) return false;
    bool mp4 = is_ftyp_mp4_brand(be::read_u32(data));
    // Bytes 4-7 are the minor version; a trailing partial word is ignored.
    for (int at = 8; at + 4 <= len; at += 4) mp4 = mp4 || is_ftyp_mp4_brand(be::read_u32(data + at));
    return mp4;
}

bool ScanResult::see(const AtomHeader& a) {
    FoundAtom* slot = nullptr;
    if (a.type == fourcc("ftyp")) slot = &ftyp;
    else if (a.type == fourcc("moov")) slot = &moov;
    else if (a.type == fourcc("mdat")) slot = &mdat;
    else if (a.type == fourcc("moof")) slot = &first_moof;
    undo_record = undo_record || a.type == fourcc("TOLV");
    if (slot == nullptr || slot->found) return false;
    *slot = FoundAtom{true, a};
    return true;
}

void decide_scan(ScanResult& s, const unsigned char* ftyp, size_t ftyp_len, const FoundAtom& mvex) {
    s.mvex = mvex;
    s.verdict = Msg::none;
    if (!s.moov.found || !s.mdat.found) {
        s.verdict = Msg::not_quicktime;
        return;
    }
    s.mp4_brand = s.ftyp.found && check_ftyp(ftyp, static_cast<int>(std::min(ftyp_len, kBrandBytes)));
    if (!s.mp4_brand) {
        s.verdict = Msg::not_mp4;
    } else if (!s.first_moof.found || !s.mvex.found) {
        s.verdict = Msg::not_fragmented;
    } else if (s.undo_record) {
        s.verdict = Msg::holds_undo_record;
    }
}

FoundAtom find_mvex(const unsigned char* moov_payload, size_t len, uint64_t at) {
    FoundAtom mvex;
    // A child that claims to run past the moov still counts: the scan reads
    // headers only.
    walk_children(
        moov_payload, len,
        [&](const ChildAtom& c) {
            if (mvex.found || c.type != fourcc("mvex")) return;
            const uint64_t start = at + static_cast<uint64_t>(c.atom - moov_payload);
            mvex = FoundAtom{true, AtomHeader{c.type, start, static_cast<uint32_t>(c.header), start + c.size, false}};
        },
        true);
    return mvex;
}
