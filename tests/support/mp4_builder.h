// Builds synthetic MP4 files for tests and the benchmark: a tree of atoms,
// each with raw payload bytes or children, whose size field and header form
// can be forced to anything (a 16-byte header, size 0, a size that claims
// past the end of the file), serialised to bytes or written to a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mp4b {

using Bytes = std::vector<unsigned char>;

struct Atom {
    uint32_t type = 0;
    Bytes payload;               // serialised before the children
    std::vector<Atom> children;
    // Value for the size field instead of the real size (0: "runs to the end
    // of the file"), in the 64-bit field when large is set.
    std::optional<uint64_t> forced_size;
    bool large = false;  // 16-byte header: size field 1, then 64-bit size

    // Bytes the atom occupies when serialised, whatever forced_size says.
    uint64_t real_size() const;
    Atom& force_size(uint64_t size) { forced_size = size; return *this; }
    Atom& make_large() { large = true; return *this; }
};

uint32_t fourcc_of(const std::string& four);

Atom raw(const std::string& type, Bytes payload = {});
Atom raw_of_size(const std::string& type, uint64_t payload_len, unsigned char fill = 0);
Atom container(const std::string& type, std::vector<Atom> children);
// A full atom: version byte, 24 flag bits, then the payload.
Atom full(const std::string& type, uint8_t version, uint32_t flags, Bytes payload = {});

Atom ftyp(const std::string& major, uint32_t minor, const std::vector<std::string>& compatible);

Atom trex(uint32_t track_id, uint32_t duration = 0, uint32_t size = 0, uint32_t flags = 0);
// Minimal movie: mvhd (version 0), the tracks and, when fragmented, mvex with
// one trex per track id.
Atom movie(std::vector<Atom> tracks, bool fragmented, const std::vector<uint32_t>& trex_ids = {1});
// A real minimal track: tkhd, mdia (mdhd, hdlr, minf with an empty stbl).
Atom minimal_track(uint32_t track_id, const std::string& handler, uint32_t timescale);
// A moov whose payload is exactly payload_len bytes: when fragmented an mvex
// with one trex; the rest filled by a `free` child.
Atom moov_with_payload(uint64_t payload_len, bool fragmented);

// One sample of a track run. A field that is 0 in every sample of its run is
// left out of the trun, so that the tfhd and trex defaults apply.
struct Sample {
    uint32_t duration = 0;
    uint32_t size = 0;
    uint32_t flags = 0;
    int32_t composition_offset = 0;
};

struct TrackRun {
    uint32_t track_id = 1;
    uint64_t decode_time = 0;
    std::vector<Sample> samples;
    uint64_t data_bytes() const;
};

// One fragment: mfhd, then a traf per run (tfhd, tfdt version 1, one trun with
// a data offset), the runs' data one after the other in the mdat that follows
// the moof, after its 8-byte header. With base_data_offset (the moof's own
// file position) the tfhd carries it; without, the tfhd sets
// default-base-is-moof. A run with a negative composition offset gets a
// version 1 trun.
Atom fragment(uint32_t sequence, const std::vector<TrackRun>& runs,
              std::optional<uint64_t> base_data_offset = std::nullopt);
// fragment() of one run of `sample_count` samples of `sample_size` bytes.
Atom moof(uint32_t sequence, uint32_t track_id, uint64_t decode_time, uint32_t sample_count,
          uint32_t sample_size);

Bytes serialise(const std::vector<Atom>& atoms);
inline Bytes serialise(const Atom& atom) { return serialise(std::vector<Atom>{atom}); }

// Writes the bytes or atoms to `path` (created or truncated). Throws
// std::runtime_error on failure.
void write_bytes(const std::string& path, const Bytes& bytes);
inline void write_file(const std::string& path, const std::vector<Atom>& atoms) { write_bytes(path, serialise(atoms)); }

}  // namespace mp4b
