// qt_track_info: one track (trak, inside moov): its header, its edit box,
// its media, the fragment defaults from mvex/trex, and the operations by
// which fragment samples and chunks are appended to its sample tables.
#pragma once

#include <cstdint>
#include <optional>

#include "movie/edts.h"
#include "movie/headers.h"
#include "movie/mdia.h"
#include "movie/trex.h"

struct PresentationSpan {
    // Presentation time of the earliest-presented sample (decode time +
    // composition offset, may be negative); 0 without samples.
    int64_t start = 0;
    // End of the latest-presented sample (decode time + composition offset +
    // duration), at least the end of the decode timeline.
    uint64_t end = 0;
};

class qt_track_info {
public:
    quicktime_tkhd_header_u tkhd;
    qt_edts_info edts;
    qt_mdia_info mdia;
    RawAtomList other_atoms;  // user data, ...; one with no place of its own goes last
    ChildOrder order;
    qt_trex_info trex{};

    // Where the fragments' decode timeline starts: the decode time of the
    // track's first fragment, or 0 when the moov already held samples. It
    // may lie before 0: writers store a start before 0 (audio priming) as
    // its two's complement.
    int64_t decode_start = 0;
    bool decode_start_known = false;
    // 0-based index of the first sample of the track's last merged fragment:
    // only those samples give way to a next fragment that starts earlier.
    uint64_t last_fragment_first_sample = 0;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;

    uint32_t getTrackId() const { return tkhd.track_id(); }
    uint64_t trackTimescale() const { return mdia.mdhd.timescale(); }
    uint64_t sumSampleCounts() const { return stbl().stts.sample_count(); }
    uint64_t sumSampleDurations() const { return stbl().stts.total_duration(); }
    // Where the samples are shown, in media ticks from the track's first
    // decode time; nothing when that time plus any of them, or they alone,
    // leave the signed 64-bit range that edit lists' media times have.
    std::optional<PresentationSpan> presentation_span() const;
    void write_mdhd_duration(uint64_t d, bool force_v1 = false) { mdia.mdhd.set_duration(d, force_v1); }
    void write_tkhd_duration(uint64_t d, bool force_v1 = false) { tkhd.set_duration(d, force_v1); }

    // sample_index: the 0-based index of the new sample in the whole track.
    void appendSample(uint32_t duration, uint32_t size, uint32_t flags, int32_t composition_offset,
                      uint64_t sample_index);
    void appendChunk(uint64_t offset, uint32_t samples, uint32_t sample_description_index);
    void padLastSample(uint64_t pad) { stbl().stts.padLastSample(pad); }
    bool trim_last_fragment(uint64_t amount) {
        return stbl().stts.trim_last_samples(amount, last_fragment_first_sample);
    }

    qt_stbl_info& stbl() { return mdia.minf.stbl; }
    const qt_stbl_info& stbl() const { return mdia.minf.stbl; }

private:
    // Reads the child into its member; returns its kind, or ChildOrder::kRaw.
    int parse_child(const ChildAtom& c);
};
