// Sample auxiliary information of a traf (for Common Encryption, every
// sample's IV and sub-sample map) carried into the track's stbl: saiz gets
// the size for every kept sample, in sample order, and saio one absolute file
// offset per chunk, that of the information of the chunk's first sample,
// where it lies in the file: inside the old moofs, which stay where they are.
//
// From a traf's saiz and saio of one kind: the saio offsets are relative to
// the traf's data base. One offset covers the whole traf, so a run's first
// sample has its information after that of the traf's samples before it; or
// there is one offset per trun. A traf without any such pair that carries
// senc, or PIFF's sample encryption box, is described the same way from the
// box's entries: the IV size comes from the box (PIFF flag 0x1), else from
// the tenc of the traf's sample description, else, when there are no
// sub-sample maps, from the box's length. An entry above 255 bytes cannot be
// said in saiz, and such a box is not described.
//
// Once a track has auxiliary information of a kind, every sample and every
// chunk gets an entry of that kind (size 0 and offset 0 where there is
// none), so that saiz stays in step with stsz and saio with stco. The
// information of a protected track's encryption kind is also copied into
// the stbl's senc (tables/senc.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "movie/sample_protection.h"
#include "movie/track.h"
#include "fragments/moof_records.h"

// The moof a traf came from: its body and where that lies in the file.
struct MoofBody {
    const unsigned char* data;
    size_t len;
    uint64_t offset;
};

class AuxInfoMerge {
public:
    // data_base: the traf's data base in the file; description_index: the
    // traf's sample description.
    AuxInfoMerge(const moof_traf_info_t& traf, qt_track_info& track, uint64_t data_base, const MoofBody& moof,
                 uint32_t description_index);

    // The sample at `traf_index` in the traf, in trun `run` (which begins
    // with the traf's sample `run_first`), kept as the track's `track_index`.
    void sample(size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index);
    // A chunk was appended for the kept samples of trun `run`.
    void chunk(size_t run, uint64_t run_first);
    // After the traf: every table of the track covers all samples and chunks.
    void finish();

private:
    struct Stream {
        qt_saiz_info sizes;             // per sample of the traf
        std::vector<uint64_t> before;   // sizes of the traf's samples before each one
        std::vector<uint64_t> offsets;  // absolute: one for the whole traf, or one per run
        size_t saiz = 0, saio = 0;      // the track's tables of this kind
        bool copied = false;            // also copied into the stbl's senc
    };

    void add(Stream stream, const AuxInfoType& kind);
    void from_sample_encryption();
    // The traf's sample description's, looked up once when needed.
    const SampleProtection& protection();
    static uint64_t sizes_before(const Stream& s, uint64_t traf_index);
    uint64_t where(const Stream& s, size_t run, uint64_t run_first, uint64_t traf_index) const;
    void copy(const Stream& s, size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index);

    const moof_traf_info_t& traf_;
    qt_track_info& track_;
    MoofBody moof_;
    uint32_t description_index_;
    std::optional<SampleProtection> protection_;
    std::vector<Stream> streams_;
};
