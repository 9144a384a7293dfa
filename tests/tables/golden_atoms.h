// Golden atoms, written out by hand with a comment on their fields: the
// tables and the header records as files carry them. The golden table reads
// and writes each; the container tree builds a movie of them.
#pragma once

#include "tests/support/atom_bytes.h"

namespace golden {

using atom_bytes::Bytes;
using atom_bytes::hex;

// ---- The sample tables. Each opens with size, type, version and flags ----

inline const Bytes kStts = hex("00000030 73747473 00000000 00000004"    // 48 'stts' v0, 4 runs:
                               "00000003 000003E9 00000003 000003E9"    // 3 of 1001, 3 of 1001 (equal neighbours kept)
                               "00000001 80000000 00000000 00000007");  // 1 of 2^31, 0 of 7 (a run of none kept)
inline const Bytes kCttsV0 = hex("00000020 63747473 00000000 00000002"    // 32 'ctts' v0, 2 runs:
                                 "00000001 00000000 00000004 7FFFFFFF");  // 1 of offset 0, 4 of 2^31 - 1
inline const Bytes kCttsV1 = hex("00000028 63747473 01000000 00000003"    // 40 'ctts' v1 (an offset < 0), 3 runs:
                                 "00000002 FFFFFFFF 00000001 00000002"    // 2 of -1, 1 of 2,
                                 "00000003 00000000");                    // 3 of 0
inline const Bytes kStss = hex("0000001C 73747373 00000000 00000003"  // 28 'stss' v0, 3 entries:
                               "00000001 0000001F 0000003D");         // samples 1, 31, 61
inline const Bytes kSdtp = hex("00000011 73647470 00000000"  // 17 'sdtp' v0, no count; samples depend:
                               "20 10 18 04 00");            // on none; on others; on others, none on it; ..; unknown
inline const Bytes kTrik = hex("0000000F 7472696B 00000000"  // 15 'trik' v0, no count; per sample
                               "41 82 C3");                  // pic_type and dependency_level 1, 2, 3
inline const Bytes kSdtpEmpty = hex("0000000C 73647470 00000000");  // 12 'sdtp' v0 without samples
inline const Bytes kStszPerSample = hex("00000020 7374737A 00000000 00000000"  // 32 'stsz' v0, sample_size 0:
                                        "00000003 000001F4 12345678 00000000");  // 3 sizes: 500, 0x12345678, 0
inline const Bytes kStszConstant = hex("00000014 7374737A 00000000 00000400 0000000A");  // 20 'stsz' v0: 10 of 1024
inline const Bytes kStsc = hex("00000028 73747363 00000000 00000002"  // 40 'stsc' v0, 2 runs, from chunk
                               "00000001 00000005 00000002"           // 1: 5 samples of description 2,
                               "00000100 00010000 00000001");         // 256: 65536 samples of description 1
inline const Bytes kStco = hex("00000018 7374636F 00000000 00000002"  // 24 'stco' v0, 2 chunks: at 48 and at the
                               "00000030 EFFFFFFF");                  //   last offset stco is kept for
inline const Bytes kCo64Narrow = hex("00000020 636F3634 00000000 00000002"    // 32 'co64' v0, 2 chunks:
                                     "00000000 00000030 00000000 EFFFFFFF");  // kStco's offsets, 64 bits wide
inline const Bytes kCo64 = hex("00000020 636F3634 00000000 00000002"    // 32 'co64' v0, 2 chunks: the first
                               "00000000 F0000000 00000000 00000010");  //   offset that needs co64, then 16
inline const Bytes kSaiz = hex("00000019 7361697A 00000001"     // 25 'saiz' v0, flags: the kind follows,
                               "63656E63 00000000 10 00000003");  // aux_info_type 'cenc', 0; default size 16, 3 samples
inline const Bytes kSaizPerSample = hex("00000014 7361697A 00000000"  // 20 'saiz' v0, kind implied,
                                        "00 00000003 16 10 00");      // no default: 3 samples of 22, 16, 0 bytes
inline const Bytes kSaio = hex("0000001C 7361696F 00000001"       // 28 'saio' v0, flags: the kind follows,
                               "63656E63 00000000 00000001 FFFFFFFF");  // 'cenc', 0; 1 offset, the last v0 holds
inline const Bytes kSaioV1 = hex("00000018 7361696F 01000000 00000001 00000001 00000000");  // 24 'saio' v1: 2^32
inline const Bytes kSbgp = hex("00000028 73626770 01000000 73656967 00000007"  // 40 'sbgp' v1 'seig', parameter 7,
                               "00000002 00000003 00010001 00000004 00000000");  // 2 runs: 3 of entry 0x10001, 4 none
inline const Bytes kSgpdV0 = hex("00000018 73677064 00000000"    // 24 'sgpd' v0: no lengths, 'roll',
                                 "726F6C6C 00000002 FFFF FFFE");  // 2 entries sharing the 4 bytes: -1, -2
inline const Bytes kSgpdV1 = hex("0000001A 73677064 01000000"        // 26 'sgpd' v1 'roll',
                                 "726F6C6C 00000002 00000001 FFFF");  // default length 2, 1 entry: -1
inline const Bytes kSgpdV2 = hex("0000002B 73677064 02000000 73656967"  // 43 'sgpd' v2 'seig', lengths per entry,
                                 "00000000 00000002 00000002"           // default description 2, 2 entries:
                                 "00000003 010203 00000004 04050607");  // 3 bytes, 4 bytes
inline const Bytes kSubs = hex("0000002C 73756273 00000001 00000002"  // 44 'subs' v0, flags 1, 2 entries:
                               "00000002 0001 0010 05 01 0000000A"    // sample 2: 16 bytes, priority 5, discardable, 10
                               "00000003 0001 FFFF 00 00 00000000");  // sample 2 + 3: 65535 bytes, the most v0 holds
inline const Bytes kSenc = hex("00000018 73656E63 00000000 00000001 01020304 05060708");  // 24 'senc' v0, 1 IV

// ---- The header records: version 1 is version 0 with a duration past 32 bits ----

#define GOLDEN_MATRIX_UNITY "00010000 00000000 00000000 00000000 00010000 00000000 00000000 00000000 40000000"
#define GOLDEN_MVHD_TAIL                                                       \
    "00010000 0100 0000 00000000 00000000" /* rate 1.0, volume 1.0, reserved */ \
    GOLDEN_MATRIX_UNITY "00000000 00000000 00000000 00000000 00000000 00000000 00000003" /* next_track_ID 3 */
#define GOLDEN_TKHD_TAIL                                                                     \
    "00000000 00000000 0000 0001 0100 0000" /* reserved, layer, alternate_group 1, volume 1.0 */ \
    GOLDEN_MATRIX_UNITY "01400000 00F00000" /* width 320, height 240 */

inline const Bytes kMvhdV0 = hex("0000006C 6D766864 00000000"           // 108 'mvhd' v0: creation, modification,
                                 "D5A1B2C3 D5A1B2C4 000003E8 0001E240"  // timescale 1000, duration 123456
                                 GOLDEN_MVHD_TAIL);
inline const Bytes kMvhdV1 = hex("00000078 6D766864 01000000"           // 120 'mvhd' v1: creation, modification,
                                 "00000000 D5A1B2C3 00000000 D5A1B2C4"  // 64 bits each,
                                 "000003E8 00000001 23456789"           // timescale 1000, duration 0x123456789
                                 GOLDEN_MVHD_TAIL);
inline const Bytes kTkhdV0 = hex("0000005C 746B6864 00000007"           // 92 'tkhd' v0, enabled, in movie and preview:
                                 "D5A1B2C3 D5A1B2C4 00000002 00000000"  // creation, modification, track_ID 2, reserved,
                                 "00002710" GOLDEN_TKHD_TAIL);          // duration 10000
inline const Bytes kTkhdV1 = hex("00000068 746B6864 01000007"           // 104 'tkhd' v1, flags kept: creation,
                                 "00000000 D5A1B2C3 00000000 D5A1B2C4"  // modification, 64 bits each,
                                 "00000002 00000000 00000001 23456789"  // track_ID 2, reserved, duration 0x123456789
                                 GOLDEN_TKHD_TAIL);
inline const Bytes kMdhdV0 = hex("00000020 6D646864 00000000"           // 32 'mdhd' v0: creation, modification,
                                 "D5A1B2C3 D5A1B2C4 00015F90 000DBBA0"  // timescale 90000, duration 900000,
                                 "55C4 0000");                          // language 'und', pre_defined
inline const Bytes kMdhdV1 = hex("0000002C 6D646864 01000000"           // 44 'mdhd' v1: creation, modification,
                                 "00000000 D5A1B2C3 00000000 D5A1B2C4"  // 64 bits each,
                                 "00015F90 00000001 23456789 55C4 0000");  // timescale 90000, duration, 'und'
inline const Bytes kMdhdV1Past0xEFFFFFFF = hex("0000002C 6D646864 01000000"  // the same with duration 0xF0000000
                                               "00000000 D5A1B2C3 00000000 D5A1B2C4"
                                               "00015F90 00000000 F0000000 55C4 0000");

// ---- Edit lists: segment duration, media time (-1: empty), rate ----

inline const Bytes kElstV0 = hex("00000028 656C7374 00000000 00000002"  // 40 'elst' v0, 2 edits:
                                 "00000042 FFFFFFFF 0001 0000"          // 66 empty, rate 1.0
                                 "000005DC 00000400 0001 0000");        // 1500 from 1024, rate 1.0
inline const Bytes kElstV1 = hex("0000004C 656C7374 01000000 00000003"             // 76 'elst' v1, 3 edits, each
                                 "00000001 00000000 FFFFFFFF FFFFFFFF 0001 0000"   // needing it: 2^32 empty,
                                 "00000000 00000007 00000000 80000000 0002 4000"   // 7 from 2^31, rate 2.25,
                                 "00000000 00000005 FFFFFFFF 7FFFFFFF 0000 0000");  // 5 from -2^31 - 1, rate 0
inline const Bytes kElstV1Narrow = hex("00000038 656C7374 01000000 00000002"             // 56 'elst' v1, 2 edits
                                       "00000000 FFFFFFFF FFFFFFFF 80000000 0001 0000"   // that fit v0: 2^32 - 1
                                       "00000000 00000001 00000000 7FFFFFFF 0001 0000");  // from -2^31, 1 from 2^31 - 1
inline const Bytes kElstNarrowed = hex("00000028 656C7374 00000000 00000002"  // 40 'elst' v0, 2 edits:
                                       "FFFFFFFF 80000000 0001 0000"          // 2^32 - 1 from -2^31
                                       "00000001 7FFFFFFF 0001 0000");        // 1 from 2^31 - 1

}  // namespace golden
