#include "engine/scan.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "atoms/be.h"
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

// The most of an ftyp payload looked at: 126 compatible brands.
constexpr long kBrandBytes = 512;

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

ScanResult scan_file(quicktime_stack* qt) {
    ScanResult r;
    quicktime_walk(qt, nullptr, [&](const quicktime_atom& atom) {
        quicktime_atom* slot = nullptr;
        if (atom.type == fourcc("ftyp")) slot = &r.ftyp;
        else if (atom.type == fourcc("moov")) slot = &r.moov;
        else if (atom.type == fourcc("mdat")) slot = &r.mdat;
        else if (atom.type == fourcc("moof")) slot = &r.first_moof;
        if (slot != nullptr && !atom_found(*slot)) *slot = atom;
        return true;
    });
    if (!atom_found(r.moov) || !atom_found(r.mdat)) {
        r.verdict = Msg::not_quicktime;
        return r;
    }
    if (atom_found(r.ftyp)) {
        unsigned char brands[kBrandBytes];
        quicktime_stack_empty(qt);
        quicktime_atom ftyp = r.ftyp;
        const long got = quicktime_stack_read(qt, &ftyp, brands, kBrandBytes);
        r.mp4_brand = check_ftyp(brands, static_cast<int>(got));
    }
    if (!r.mp4_brand) {
        r.verdict = Msg::not_mp4;
        return r;
    }
    quicktime_walk(qt, &r.moov, [&](const quicktime_atom& child) {
        if (child.type != fourcc("mvex")) return true;
        r.mvex = child;
        return false;
    });
    if (!atom_found(r.first_moof) || !atom_found(r.mvex)) r.verdict = Msg::not_fragmented;
    return r;
}
