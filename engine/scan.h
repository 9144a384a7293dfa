// The top-level scan of a file to be converted: the first ftyp, moov, mdat
// and moof, the brand test, and mvex directly inside moov. It decides
// whether the file is a fragmented MP4 file from what the conversion's walk
// over the file found; it reads and writes nothing itself.
#pragma once

#include <cstddef>
#include <cstdint>

#include "atoms/atom_header.h"
#include "engine/outcome.h"

// True for the brands of the ISO base media family and QuickTime's.
bool is_ftyp_mp4_brand(unsigned int brand);
// The brand test over an ftyp payload of len bytes: the major brand, then
// every whole compatible brand after the minor version.
bool check_ftyp(const unsigned char* data, int len);
// The most of an ftyp payload the brand test looks at: 126 compatible brands.
constexpr size_t kBrandBytes = 512;

struct FoundAtom {
    bool found = false;
    AtomHeader atom;
    // Where its payload begins, as the refusals print it; 0 when not found.
    uint64_t data_offset() const { return found ? atom.body() : 0; }
};

struct ScanResult {
    FoundAtom ftyp, moov, mdat, first_moof, mvex;
    bool mp4_brand = false;
    // A TOLV at the top level: the undo record of a conversion that was
    // interrupted, its journal lost. Converting again would bury it.
    bool undo_record = false;
    // not_quicktime (moov, mdat offsets), not_mp4, not_fragmented (moof,
    // mvex offsets) or holds_undo_record: the offsets are those of the
    // records above.
    Msg verdict = Msg::none;

    // Notes a top-level atom; true when it is the first of a kind looked for.
    bool see(const AtomHeader& a);
};

// The verdict once the walk is over. ftyp: the first bytes of the ftyp's
// payload (up to kBrandBytes) when there is one; mvex: where the walk of the
// moov's children found it.
void decide_scan(ScanResult& s, const unsigned char* ftyp, size_t ftyp_len, const FoundAtom& mvex);

// The first mvex among the children of a moov payload held in memory, which
// begins at file offset `at`.
FoundAtom find_mvex(const unsigned char* moov_payload, size_t len, uint64_t at);
