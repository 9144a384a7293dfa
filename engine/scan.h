// The top-level scan of a file to be converted: the first ftyp, moov, mdat
// and moof, the brand test, and mvex directly inside moov. It decides
// whether the file is a fragmented MP4 file; it writes nothing.
#pragma once

#include "atomstack/quicktime_stack.h"
#include "engine/outcome.h"

// True for the brands of the ISO base media family and QuickTime's.
bool is_ftyp_mp4_brand(unsigned int brand);
// The brand test over an ftyp payload of len bytes: the major brand, then
// every whole compatible brand after the minor version.
bool check_ftyp(const unsigned char* data, int len);

struct ScanResult {
    quicktime_atom ftyp, moov, mdat, first_moof, mvex;  // absent: data offset 0
    bool mp4_brand = false;
    // not_quicktime (moov, mdat offsets), not_mp4, or not_fragmented (moof,
    // mvex offsets): the offsets are those of the records above.
    Msg verdict = Msg::none;
};

ScanResult scan_file(quicktime_stack* qt);

// A record counts as found when its data offset is non-zero.
inline bool atom_found(const quicktime_atom& a) { return a.absolute_data_offset != 0; }
