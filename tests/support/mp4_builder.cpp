#include "tests/support/mp4_builder.h"

#include <fstream>
#include <stdexcept>

#include "atoms/be.h"
#include "tests/support/atom_bytes.h"

namespace mp4b {

using atom_bytes::words;

namespace {

void append(BeWriter& w, const Atom& atom) {
    const uint64_t size = atom.forced_size.value_or(atom.real_size());
    w.u32(atom.large ? 1 : static_cast<uint32_t>(size));
    w.u32(atom.type);
    if (atom.large) w.u64(size);
    w.bytes(atom.payload);
    for (const Atom& child : atom.children) append(w, child);
}

}  // namespace

uint64_t Atom::real_size() const {
    uint64_t size = (large ? 16 : 8) + payload.size();
    for (const Atom& child : children) size += child.real_size();
    return size;
}

uint32_t fourcc_of(const std::string& four) {
    return four.size() == 4 ? be::read_u32(reinterpret_cast<const unsigned char*>(four.data()))
                            : throw std::invalid_argument("four-character code: '" + four + "'");
}

Atom raw(const std::string& type, Bytes payload) { return Atom{fourcc_of(type), std::move(payload), {}, {}, false}; }

Atom raw_of_size(const std::string& type, uint64_t payload_len, unsigned char fill) {
    return raw(type, Bytes(static_cast<size_t>(payload_len), fill));
}

Atom container(const std::string& type, std::vector<Atom> children) {
    return Atom{fourcc_of(type), {}, std::move(children), {}, false};
}

Atom full(const std::string& type, uint8_t version, uint32_t flags, Bytes payload) {
    return raw(type, atom_bytes::cat({words({uint32_t{version} << 24 | flags}), payload}));
}

Atom ftyp(const std::string& major, uint32_t minor, const std::vector<std::string>& compatible) {
    Bytes body = words({fourcc_of(major), minor});
    for (const std::string& brand : compatible) BeWriter(body).u32(fourcc_of(brand));
    return raw("ftyp", std::move(body));
}

Atom trex(uint32_t track_id, uint32_t duration, uint32_t size, uint32_t flags) {
    return full("trex", 0, 0, words({track_id, 1, duration, size, flags}));
}

// mvhd and tkhd (version 0) after their times: rate or layer, volume,
// reserved, the unity matrix, and what follows it.
Atom movie(std::vector<Atom> tracks, bool fragmented, const std::vector<uint32_t>& trex_ids) {
    const auto next_track_id = static_cast<uint32_t>(tracks.size() + 1);
    tracks.insert(tracks.begin(), full("mvhd", 0, 0, words({0, 0, 1000, 0, 0x00010000, 0x01000000, 0, 0, 0x00010000, 0, 0, 0,
                                                          0x00010000, 0, 0, 0, 0x40000000, 0, 0, 0, 0, 0, 0, next_track_id})));
    if (fragmented) tracks.push_back(container("mvex", {}));
    for (uint32_t id : fragmented ? trex_ids : std::vector<uint32_t>{}) tracks.back().children.push_back(trex(id));
    return container("moov", std::move(tracks));
}

Atom minimal_track(uint32_t track_id, const std::string& handler, uint32_t timescale) {
    const uint32_t volume = handler == "soun" ? 0x01000000 : 0;
    const uint32_t width = handler == "vide" ? 160u << 16 : 0, height = handler == "vide" ? 120u << 16 : 0;
    Bytes hdlr = words({0, fourcc_of(handler), 0, 0, 0});
    hdlr.push_back(0);  // empty name
    Atom stbl = container("stbl", {full("stsd", 0, 0, words({0})), full("stts", 0, 0, words({0})),
                                   full("stsc", 0, 0, words({0})), full("stsz", 0, 0, words({0, 0})),
                                   full("stco", 0, 0, words({0}))});
    Atom mdia = container("mdia", {full("mdhd", 0, 0, words({0, 0, timescale, 0, 0x55C40000})),  // language "und"
                                   full("hdlr", 0, 0, std::move(hdlr)), container("minf", {std::move(stbl)})});
    return container("trak", {full("tkhd", 0, 3, words({0, 0, track_id, 0, 0, 0, 0, 0, volume, 0x00010000, 0, 0, 0,
                                                       0x00010000, 0, 0, 0, 0x40000000, width, height})),
                              std::move(mdia)});
}

Atom moov_with_payload(uint64_t payload_len, bool fragmented) {
    Atom moov = container("moov", {});
    if (fragmented) moov.children.push_back(container("mvex", {trex(1)}));
    const uint64_t used = moov.real_size() - 8;
    if (payload_len < used || (fragmented && payload_len > used && payload_len < used + 8))
        throw std::invalid_argument("no room for the mvex and a free atom");
    if (payload_len - used >= 8) moov.children.push_back(raw_of_size("free", payload_len - used - 8));
    else moov.payload.resize(payload_len - used);
    return moov;
}

uint64_t TrackRun::data_bytes() const {
    uint64_t bytes = 0;
    for (const Sample& s : samples) bytes += s.size;
    return bytes;
}

Atom fragment(uint32_t sequence, const std::vector<TrackRun>& runs, std::optional<uint64_t> base_data_offset) {
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

Atom moof(uint32_t sequence, uint32_t track_id, uint64_t decode_time, uint32_t sample_count, uint32_t sample_size) {
    return fragment(sequence, {TrackRun{track_id, decode_time, std::vector<Sample>(sample_count, {0, sample_size})}});
}

Bytes serialise(const std::vector<Atom>& atoms) {
    Bytes out;
    BeWriter w(out);
    for (const Atom& a : atoms) append(w, a);
    return out;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size())).flush())
        throw std::runtime_error("cannot write " + path);
}

}  // namespace mp4b
