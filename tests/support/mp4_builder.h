// Builds synthetic MP4 files for tests and the benchmark: a tree of atoms,
// each with raw payload bytes or children, whose size field and header form
// can be forced to anything (a 16-byte header, size 0, a size that claims
// past the end of the file), serialised to bytes or written to a file.
#pragma once

#include <fstream>
#include <numeric>
#include <optional>

#include "tests/support/atom_bytes.h"

namespace mp4b {

using Bytes = std::vector<unsigned char>;
using atom_bytes::words;

struct Atom {
    uint32_t type = 0;
    Bytes payload;  // serialised before the children
    std::vector<Atom> children;
    // Value for the size field instead of the real size (0: "runs to the end
    // of the file"), in the 64-bit field when large is set.
    std::optional<uint64_t> forced_size;
    bool large = false;  // 16-byte header: size field 1, then 64-bit size

    // Bytes the atom occupies when serialised, whatever forced_size says.
    uint64_t real_size() const {
        return std::accumulate(children.begin(), children.end(), (large ? 16 : 8) + uint64_t{payload.size()},
                               [](uint64_t n, const Atom& child) { return n + child.real_size(); });
    }
    Atom& force_size(uint64_t size) { forced_size = size; return *this; }
    Atom& make_large() { large = true; return *this; }
};

inline uint32_t fourcc_of(const std::string& four) {
    return four.size() == 4 ? be::read_u32(reinterpret_cast<const unsigned char*>(four.data()))
                            : throw std::invalid_argument("four-character code: '" + four + "'");
}

inline Atom raw(const std::string& type, Bytes payload = {}) { return Atom{fourcc_of(type), std::move(payload), {}, {}, false}; }
inline Atom raw_of_size(const std::string& type, size_t len, unsigned char fill = 0) { return raw(type, Bytes(len, fill)); }
inline Atom container(const std::string& type, std::vector<Atom> kids) {
    return {fourcc_of(type), {}, std::move(kids), {}, false};
}
// A full atom: version byte, 24 flag bits, then the payload.
inline Atom full(const std::string& type, uint8_t version, uint32_t flags, const Bytes& payload = {}) {
    return raw(type, atom_bytes::cat({words({uint32_t{version} << 24 | flags}), payload}));
}

inline Atom ftyp(const std::string& major, uint32_t minor, const std::vector<std::string>& compatible) {
    Bytes body = words({fourcc_of(major), minor});
    for (const std::string& brand : compatible) BeWriter(body).u32(fourcc_of(brand));
    return raw("ftyp", std::move(body));
}

inline Atom trex(uint32_t track_id, uint32_t duration = 0, uint32_t size = 0, uint32_t flags = 0) {
    return full("trex", 0, 0, words({track_id, 1, duration, size, flags}));
}

// Minimal movie: mvhd (version 0: times, timescale 1000, duration, rate,
// volume, reserved, the unity matrix, pre-defined, next track id), the tracks
// and, when fragmented, mvex with one trex per track id.
inline Atom movie(std::vector<Atom> tracks, bool fragmented, const std::vector<uint32_t>& trex_ids = {1}) {
    const auto next_track_id = static_cast<uint32_t>(tracks.size() + 1);
    tracks.insert(tracks.begin(), full("mvhd", 0, 0, words({0, 0, 1000, 0, 0x00010000, 0x01000000, 0, 0, 0x00010000, 0, 0, 0,
                                                          0x00010000, 0, 0, 0, 0x40000000, 0, 0, 0, 0, 0, 0, next_track_id})));
    if (fragmented) tracks.push_back(container("mvex", {}));
    for (uint32_t id : fragmented ? trex_ids : std::vector<uint32_t>{}) tracks.back().children.push_back(trex(id));
    return container("moov", std::move(tracks));
}

// A real minimal track: tkhd, mdia (mdhd, hdlr, minf with an empty stbl).
inline Atom minimal_track(uint32_t track_id, const std::string& handler, uint32_t timescale) {
    const uint32_t volume = handler == "soun" ? 0x01000000 : 0;
    const uint32_t width = handler == "vide" ? 160u << 16 : 0, height = width * 3 / 4;
    const Bytes hdlr = atom_bytes::cat({words({0, fourcc_of(handler), 0, 0, 0}), {0}});  // an empty name
    Atom stbl = container("stbl", {full("stsd", 0, 0, words({0})), full("stts", 0, 0, words({0})),
                                   full("stsc", 0, 0, words({0})), full("stsz", 0, 0, words({0, 0})),
                                   full("stco", 0, 0, words({0}))});
    Atom mdia = container("mdia", {full("mdhd", 0, 0, words({0, 0, timescale, 0, 0x55C40000})),  // language "und"
                                   full("hdlr", 0, 0, hdlr), container("minf", {std::move(stbl)})});
    return container("trak", {full("tkhd", 0, 3, words({0, 0, track_id, 0, 0, 0, 0, 0, volume, 0x00010000, 0, 0, 0,
                                                       0x00010000, 0, 0, 0, 0x40000000, width, height})),
                              std::move(mdia)});
}

// A moov whose payload is exactly payload_len bytes: when fragmented an mvex
// with one trex; the rest filled by a `free` child.
inline Atom moov_with_payload(uint64_t payload_len, bool fragmented) {
    Atom moov = container("moov", {});
    if (fragmented) moov.children.push_back(container("mvex", {trex(1)}));
    const uint64_t used = moov.real_size() - 8;
    if (payload_len < used || (fragmented && payload_len > used && payload_len < used + 8))
        throw std::invalid_argument("no room for the mvex and a free atom");
    if (payload_len - used >= 8) moov.children.push_back(raw_of_size("free", payload_len - used - 8));
    else moov.payload.resize(payload_len - used);
    return moov;
}

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
    uint64_t data_bytes() const {
        return std::accumulate(samples.begin(), samples.end(), uint64_t{0}, [](uint64_t n, auto& s) { return n + s.size; });
    }
};

// One fragment: mfhd, then a traf per run (tfhd, tfdt version 1, one trun with
// a data offset), the runs' data one after the other in the mdat that follows
// the moof, after its 8-byte header. With base_data_offset (the moof's own
// file position) the tfhd carries it; without, the tfhd sets
// default-base-is-moof. A run with a negative composition offset gets a
// version 1 trun.
inline Atom fragment(uint32_t sequence, const std::vector<TrackRun>& runs,
                     std::optional<uint64_t> base_data_offset = std::nullopt) {
    // tfhd: base-data-offset present, or default-base-is-moof; trun: data
    // offset present, then one flag per sample field, from 0x100 on.
    const uint32_t kBaseDataOffset = 0x000001, kBaseIsMoof = 0x020000, kDataOffset = 0x000001;
    const auto field = [](const Sample& s, uint32_t k) {
        return k == 0 ? s.duration : k == 1 ? s.size : k == 2 ? s.flags : static_cast<uint32_t>(s.composition_offset);
    };
    Atom m = container("moof", {full("mfhd", 0, 0, words({sequence}))});
    for (const TrackRun& run : runs) {
        uint32_t fields = kDataOffset;
        bool negative = false;
        for (const Sample& s : run.samples) {
            for (uint32_t k = 0; k < 4; ++k) fields |= field(s, k) != 0 ? 0x100u << k : 0;
            negative = negative || s.composition_offset < 0;
        }
        Bytes trun = words({static_cast<uint32_t>(run.samples.size()), 0}), tfhd = words({run.track_id}), tfdt;
        for (const Sample& s : run.samples)
            for (uint32_t k = 0; k < 4; ++k)
                if (fields & 0x100u << k) BeWriter(trun).u32(field(s, k));
        if (base_data_offset) BeWriter(tfhd).u64(*base_data_offset);
        BeWriter(tfdt).u64(run.decode_time);
        m.children.push_back(container("traf", {full("tfhd", 0, base_data_offset ? kBaseDataOffset : kBaseIsMoof, tfhd),
                                                full("tfdt", 1, 0, tfdt), full("trun", negative ? 1 : 0, fields, trun)}));
    }
    // Both bases are the moof's start: the first run's data lies right after
    // the next mdat's 8-byte header, each further run after the one before.
    uint64_t data_offset = m.real_size() + 8;
    for (size_t i = 0; i < runs.size(); ++i) {
        be::put_u32(m.children[i + 1].children[2].payload.data() + 8, static_cast<uint32_t>(data_offset));
        data_offset += runs[i].data_bytes();
    }
    return m;
}

// fragment() of one run of `sample_count` samples of `sample_size` bytes.
inline Atom moof(uint32_t sequence, uint32_t track_id, uint64_t decode_time, uint32_t sample_count, uint32_t sample_size) {
    return fragment(sequence, {TrackRun{track_id, decode_time, std::vector<Sample>(sample_count, {0, sample_size})}});
}

inline void append(BeWriter& w, const Atom& atom) {
    const uint64_t size = atom.forced_size.value_or(atom.real_size());
    w.u32(atom.large ? 1 : static_cast<uint32_t>(size));
    w.u32(atom.type);
    if (atom.large) w.u64(size);
    w.bytes(atom.payload);
    for (const Atom& child : atom.children) append(w, child);
}

inline Bytes serialise(const std::vector<Atom>& atoms) {
    Bytes out;
    BeWriter w(out);
    for (const Atom& a : atoms) append(w, a);
    return out;
}
inline Bytes serialise(const Atom& atom) { return serialise(std::vector<Atom>{atom}); }

// Writes the bytes or atoms to `path` (created or truncated). Throws
// std::runtime_error on failure.
inline void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())).flush())
        throw std::runtime_error("cannot write " + path);
}
inline void write_file(const std::string& path, const std::vector<Atom>& atoms) { write_bytes(path, serialise(atoms)); }

}  // namespace mp4b
