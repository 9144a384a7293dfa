// The top-level scan of a file to be converted: finds the first ftyp, moov,
// mdat and moof, tests the brands, looks for mvex directly inside moov, and
// refuses every file that is not a fragmented MP4 file. Writes nothing.
#pragma once

// True for the brands of the ISO base media family and QuickTime's qt.
bool is_ftyp_mp4_brand(unsigned int brand);
// Sets is_mp4_ftype from an ftyp payload: the major brand, then every whole
// compatible brand after the minor version.
void check_ftyp(unsigned char* data, int len);

// Fills the located-atom records. Returns -1 when the file is a fragmented
// MP4 file, else the exit status after printing why not.
int scan_top_level();
