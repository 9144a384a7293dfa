#include "bin/scan.h"

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <iterator>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "bin/driver_state.h"
#include "bin/messages.h"

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

void check_ftyp(unsigned char* data, int len) {
    is_mp4_ftype = false;
    if (len < 8) return;
    if (is_ftyp_mp4_brand(be::read_u32(data))) is_mp4_ftype = true;
    if (len < 12) return;
    // Bytes 4-7 are the minor version; a trailing partial word is ignored.
    for (int at = 8; at + 4 <= len; at += 4) {
        if (is_ftyp_mp4_brand(be::read_u32(data + at))) is_mp4_ftype = true;
    }
}

namespace {

void remember_first(const quicktime_atom& atom) {
    quicktime_atom* slot = nullptr;
    if (atom.type == fourcc("ftyp")) slot = &mp4_ftyp;
    else if (atom.type == fourcc("moov")) slot = &mp4_moov;
    else if (atom.type == fourcc("mdat")) slot = &mp4_mdat;
    else if (atom.type == fourcc("moof")) slot = &mp4_first_moof;
    if (slot != nullptr && !atom_found(*slot)) *slot = atom;
}

void find_mvex() {
    quicktime_stack_empty(mp4_qt);
    quicktime_stack_push(mp4_qt, &mp4_moov);
    quicktime_atom child;
    while (quicktime_stack_read_atom(mp4_qt, quicktime_stack_top(mp4_qt), &child)) {
        if (child.type == fourcc("mvex")) {
            mp4_mvex = child;
            return;
        }
    }
}

}  // namespace

int scan_top_level() {
    quicktime_stack_empty(mp4_qt);
    quicktime_stack_seek(mp4_qt, quicktime_stack_top(mp4_qt), 0);
    while (!quicktime_stack_eof(mp4_qt)) {
        quicktime_atom atom;
        if (!quicktime_stack_read_atom(mp4_qt, quicktime_stack_top(mp4_qt), &atom)) {
            quicktime_stack_pop(mp4_qt);
            continue;
        }
        remember_first(atom);
    }

    if (!atom_found(mp4_moov) || !atom_found(mp4_mdat)) {
        say("Not a quicktime file in general\n");
        say("moov @ %llu\n", static_cast<unsigned long long>(mp4_moov.absolute_data_offset));
        say("mdat @ %llu\n", static_cast<unsigned long long>(mp4_mdat.absolute_data_offset));
        return 1;
    }
    if (atom_found(mp4_ftyp)) {
        unsigned char brands[512];
        quicktime_stack_empty(mp4_qt);
        quicktime_stack_seek(mp4_qt, &mp4_ftyp, 0);
        long got = quicktime_stack_read(mp4_qt, &mp4_ftyp, brands, sizeof brands);
        check_ftyp(brands, static_cast<int>(got));
    } else {
        say("Warning: Quicktime file without ftyp atom\n");
    }
    if (!is_mp4_ftype) {
        say("Not an MP4 file\n");
        return 1;
    }
    assert(atom_found(mp4_mdat));
    find_mvex();
    if (!atom_found(mp4_first_moof) || !atom_found(mp4_mvex)) {
        say("Not a fragmented MP4 file\n");
        say("moof @ %llu\n", static_cast<unsigned long long>(mp4_first_moof.absolute_data_offset));
        say("mvex @ %llu\n", static_cast<unsigned long long>(mp4_mvex.absolute_data_offset));
        return 1;
    }
    return -1;
}
