// Where an index says the fragments are: only a hint for reading ahead.
// Nothing here decides what the conversion writes; a wrong, cut or hostile
// index only makes reading slower.
//
//   mfro  u8 version | u24 flags | u32 size of the enclosing mfra
//         (the last 16 bytes of a file that ends with an mfra)
//   tfra  u8 version | u24 flags | u32 track_ID | u32 26 reserved bits,
//         2-bit length sizes of traf, trun and sample numbers (minus 1)
//         | u32 entry count | per entry: time and moof_offset (u32 each in
//         version 0, u64 in version 1), then the three numbers
//   sidx  u8 version | u24 flags | u32 reference_ID | u32 timescale
//         | earliest presentation time and first offset (u32 each in
//         version 0, u64 in version 1) | u16 reserved | u16 reference count
//         | per reference: u1 type, u31 size | u32 duration | u32 SAP fields;
//         the first reference begins first_offset bytes after the sidx
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The number of bytes the mfra takes at the end of the file, when the last
// 16 bytes of the file (mfro) name one; 0 otherwise.
uint64_t mfra_size_from_mfro(const unsigned char* last16, size_t len);
// The moof offsets of every tfra in an mfra payload.
std::vector<uint64_t> moof_offsets_from_mfra(const unsigned char* mfra_payload, size_t len);
// The offsets of the media subsegments a sidx (its payload, the box ending
// at `sidx_end`) points at.
std::vector<uint64_t> fragment_offsets_from_sidx(const unsigned char* sidx_payload, size_t len, uint64_t sidx_end);
