// What one movie fragment (moof) says, as plain records for the merger.
// moof_info_t holds the fragment's sequence number (mfhd) and one
// moof_traf_info_t per track fragment (traf, in file order): its header
// (tfhd) fields, its decode time (tfdt) and each of its runs (trun) on its
// own, and Smooth Streaming's fragment time (tfxd), which stands for a tfdt
// when there is none. Zero stands for absent throughout; the tfhd and trun flag words tell a
// real 0 from a missing field, and the merger picks the fallbacks. A run
// without per-sample fields keeps only its declared count: its samples are
// never materialised here, so a huge count costs nothing.
// Beside the runs, what a traf says about its samples: auxiliary
// information (saiz, saio, and senc or PIFF's sample encryption box), sample
// groups (sbgp, sgpd), sub-samples (subs), dependencies (sdtp) and trick
// play (trik); and the
// moof's pssh boxes, whole. Other traf boxes (tfrf and the other Smooth
// Streaming uuid boxes, avcn) are not read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tables/saio.h"
#include "tables/saiz.h"
#include "tables/sbgp.h"
#include "tables/sdtp.h"
#include "tables/sgpd.h"
#include "tables/subs.h"
#include "tables/trik.h"

struct moof_traf_info_t {
    uint64_t base_media_decode_time = 0;
    bool has_tfdt = false;
    uint64_t tfxd_time = 0;  // fragment_absolute_time
    bool has_tfxd = false;
    uint32_t tf_flags = 0, track_ID = 0;
    uint64_t base_data_offset = 0;
    uint32_t sample_description_index = 0, default_sample_duration = 0,
             default_sample_size = 0, default_sample_flags = 0;

    struct trun_t {
        uint32_t tr_flags = 0;
        uint8_t version = 0;
        uint32_t sample_count = 0;  // as declared, not as read
        int32_t data_offset = 0;
        bool has_data_offset = false;
        uint32_t first_sample_flags = 0;
        bool has_first_sample_flags = false;
        // The box ends inside its data offset or first-sample flags: none of
        // its samples can be placed.
        bool cut_short = false;

        struct trun_sample_t {
            uint32_t duration = 0, size = 0, flags = 0;
            int64_t composition_offset = 0;
        };
        // Only filled when the run has per-sample fields.
        std::vector<trun_sample_t> samples;

        bool has_per_sample_fields() const;
        // The samples this run contributes: those read when it has per-sample
        // fields, else its declared count; none when it is cut short.
        uint64_t samples_held() const;
    };
    std::vector<trun_t> truns;  // in file order, one per trun box

    // Per sample an IV and, with flag 0x2, a sub-sample map. The IV size is
    // the track's (tenc) unless PIFF's flag 0x1 gives it in the box.
    struct sample_encryption_t {
        bool present = false;
        uint32_t flags = 0;
        bool iv_size_given = false;
        uint8_t iv_size = 0;
        uint32_t sample_count = 0;
        uint64_t entries_at = 0;             // the first entry's offset in the moof's body
        std::vector<unsigned char> entries;  // from there to the end of the box
    };
    sample_encryption_t senc;

    std::vector<qt_saiz_info> saiz;
    std::vector<qt_saio_info> saio;  // offsets relative to the traf's data base
    std::vector<qt_sbgp_info> sbgp;
    std::vector<qt_sgpd_info> sgpd;
    std::vector<qt_subs_info> subs;  // sample numbers counted within the traf
    qt_sdtp_info sdtp;
    qt_trik_info trik;

    // The decode time of the traf's first sample, as stored (unsigned): the
    // tfdt's, else the tfxd's.
    bool has_decode_time() const { return has_tfdt || has_tfxd; }
    uint64_t decode_time() const { return has_tfdt ? base_media_decode_time : tfxd_time; }

    void parse_tfhd(const unsigned char* data, size_t len);
    void parse_tfdt(const unsigned char* data, size_t len);
    // The body after the uuid's 16-byte extended type.
    void parse_tfxd(const unsigned char* data, size_t len);
    void parse_trun(const unsigned char* data, size_t len);
    // `at`: the body's offset in the moof's body.
    void parse_senc(const unsigned char* data, size_t len, uint64_t at, bool piff);
};

struct moof_info_t {
    uint32_t sequence_number = 0;
    std::vector<moof_traf_info_t> trafs;
    std::vector<std::vector<unsigned char>> pssh;  // whole boxes, header included

    void parse_mfhd(const unsigned char* data, size_t len);
    // `at`: the body's offset in the moof's body.
    void parse_traf(moof_traf_info_t& traf, const unsigned char* data, size_t len, uint64_t at = 0);
};
