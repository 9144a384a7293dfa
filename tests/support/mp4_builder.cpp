#include "tests/support/mp4_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "atoms/be.h"

namespace mp4b {

namespace {

void append(BeWriter& w, const Atom& atom) {
    const uint64_t size = atom.forced_size.value_or(atom.real_size());
    w.u32(atom.large ? 1 : static_cast<uint32_t>(size));
    w.u32(atom.type);
    if (atom.large) w.u64(size);
    w.bytes(atom.payload);
    for (const Atom& child : atom.children) append(w, child);
}

Bytes u32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    BeWriter w(out);
    for (uint32_t v : values) w.u32(v);
    return out;
}

}  // namespace

uint64_t Atom::real_size() const {
    uint64_t size = header_size() + payload.size();
    for (const Atom& child : children) size += child.real_size();
    return size;
}

uint32_t fourcc_of(const std::string& four) {
    if (four.size() != 4) throw std::invalid_argument("four-character code: '" + four + "'");
    return be::read_u32(reinterpret_cast<const unsigned char*>(four.data()));
}

Atom raw(const std::string& type, Bytes payload) {
    Atom a;
    a.type = fourcc_of(type);
    a.payload = std::move(payload);
    return a;
}

Atom raw_of_size(const std::string& type, uint64_t payload_len, unsigned char fill) {
    return raw(type, Bytes(static_cast<size_t>(payload_len), fill));
}

Atom container(const std::string& type, std::vector<Atom> children) {
    Atom a = raw(type);
    a.children = std::move(children);
    return a;
}

Atom full(const std::string& type, uint8_t version, uint32_t flags, Bytes payload) {
    Bytes body = u32s({uint32_t{version} << 24 | flags});
    body.insert(body.end(), payload.begin(), payload.end());
    return raw(type, std::move(body));
}

Atom ftyp(const std::string& major, uint32_t minor, const std::vector<std::string>& compatible) {
    Bytes body = u32s({fourcc_of(major), minor});
    for (const std::string& brand : compatible) BeWriter(body).u32(fourcc_of(brand));
    return raw("ftyp", std::move(body));
}

// The fields of mvhd and tkhd (version 0) after their times: rate, volume,
// reserved, the unity matrix, and what follows it.
Atom mvhd(uint32_t timescale, uint64_t duration, uint32_t next_track_id) {
    return full("mvhd", 0, 0,
                u32s({0, 0, timescale, static_cast<uint32_t>(duration), 0x00010000, 0x01000000, 0, 0, 0x00010000, 0, 0,
                      0, 0x00010000, 0, 0, 0, 0x40000000, 0, 0, 0, 0, 0, 0, next_track_id}));
}

Atom trex(uint32_t track_id, uint32_t duration, uint32_t size, uint32_t flags) {
    return full("trex", 0, 0, u32s({track_id, 1, duration, size, flags}));
}

Atom movie(std::vector<Atom> tracks, bool fragmented, const std::vector<uint32_t>& trex_ids) {
    Atom moov = container("moov", {mvhd(1000, 0, static_cast<uint32_t>(tracks.size() + 1))});
    for (Atom& t : tracks) moov.children.push_back(std::move(t));
    if (fragmented) {
        Atom mvex = container("mvex", {});
        for (uint32_t id : trex_ids) mvex.children.push_back(trex(id));
        moov.children.push_back(std::move(mvex));
    }
    return moov;
}

Atom minimal_track(uint32_t track_id, const std::string& handler, uint32_t timescale) {
    const uint32_t volume = handler == "soun" ? 0x01000000 : 0;
    const uint32_t width = handler == "vide" ? 160u << 16 : 0, height = handler == "vide" ? 120u << 16 : 0;
    Bytes hdlr = u32s({0, fourcc_of(handler), 0, 0, 0});
    hdlr.push_back(0);  // empty name
    Atom stbl = container("stbl", {full("stsd", 0, 0, u32s({0})), full("stts", 0, 0, u32s({0})),
                                   full("stsc", 0, 0, u32s({0})), full("stsz", 0, 0, u32s({0, 0})),
                                   full("stco", 0, 0, u32s({0}))});
    Atom mdia = container("mdia", {full("mdhd", 0, 0, u32s({0, 0, timescale, 0, 0x55C40000})),  // language "und"
                                   full("hdlr", 0, 0, std::move(hdlr)), container("minf", {std::move(stbl)})});
    return container("trak", {full("tkhd", 0, 3,
                                   u32s({0, 0, track_id, 0, 0, 0, 0, 0, volume, 0x00010000, 0, 0, 0, 0x00010000, 0,
                                         0, 0, 0x40000000, width, height})),
                              std::move(mdia)});
}

Atom moov_with_payload(uint64_t payload_len, bool fragmented) {
    Atom moov = container("moov", {});
    uint64_t left = payload_len;
    if (fragmented) {
        if (payload_len < 8) throw std::invalid_argument("moov too small for mvex");
        Atom mvex = container("mvex", {trex(1)});
        if (mvex.real_size() > payload_len) {
            // No room for a trex: an mvex of zero bytes fills the moov.
            moov.children.push_back(raw_of_size("mvex", payload_len - 8));
            return moov;
        }
        left -= mvex.real_size();
        if (left > 0 && left < 8) {
            // Too little for a free atom: lengthen the trex instead.
            mvex.children[0].payload.resize(mvex.children[0].payload.size() + left, 0);
            left = 0;
        }
        moov.children.push_back(std::move(mvex));
    }
    if (left >= 8) moov.children.push_back(raw_of_size("free", left - 8));
    else moov.payload.resize(left);
    return moov;
}

uint64_t TrackRun::data_bytes() const {
    uint64_t bytes = 0;
    for (const Sample& s : samples) bytes += s.size;
    return bytes;
}

Atom fragment(uint32_t sequence, const std::vector<TrackRun>& runs, std::optional<uint64_t> base_data_offset) {
    // tfhd: base-data-offset present, or default-base-is-moof; trun: data
    // offset present, then the per-sample fields.
    const uint32_t kBaseDataOffset = 0x000001, kBaseIsMoof = 0x020000, kDataOffset = 0x000001;
    const uint32_t kDuration = 0x000100, kSize = 0x000200, kFlags = 0x000400, kCompositionOffset = 0x000800;
    const uint32_t kFields[] = {kDuration, kSize, kFlags, kCompositionOffset};
    Atom m = container("moof", {full("mfhd", 0, 0, u32s({sequence}))});
    for (const TrackRun& run : runs) {
        uint32_t fields = 0;
        bool negative = false;
        for (const Sample& s : run.samples) {
            fields |= (s.duration ? kDuration : 0) | (s.size ? kSize : 0) | (s.flags ? kFlags : 0) |
                      (s.composition_offset ? kCompositionOffset : 0);
            negative = negative || s.composition_offset < 0;
        }
        Bytes trun = u32s({static_cast<uint32_t>(run.samples.size()), 0});  // the data offset, set below
        BeWriter w(trun);
        for (const Sample& s : run.samples) {
            const uint32_t values[] = {s.duration, s.size, s.flags, static_cast<uint32_t>(s.composition_offset)};
            for (size_t k = 0; k < 4; ++k)
                if (fields & kFields[k]) w.u32(values[k]);
        }
        Bytes tfhd = u32s({run.track_id}), tfdt;
        if (base_data_offset) BeWriter(tfhd).u64(*base_data_offset);
        BeWriter(tfdt).u64(run.decode_time);
        m.children.push_back(container("traf", {full("tfhd", 0, base_data_offset ? kBaseDataOffset : kBaseIsMoof, tfhd),
                                                full("tfdt", 1, 0, tfdt),
                                                full("trun", negative ? 1 : 0, kDataOffset | fields, trun)}));
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

Bytes serialise(const Atom& atom) {
    Bytes out;
    BeWriter w(out);
    append(w, atom);
    return out;
}

Bytes serialise(const std::vector<Atom>& atoms) {
    Bytes out;
    BeWriter w(out);
    for (const Atom& a : atoms) append(w, a);
    return out;
}

void write_bytes(const std::string& path, const Bytes& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const bool ok = fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("cannot write " + path);
}

void write_file(const std::string& path, const std::vector<Atom>& atoms, std::optional<uint64_t> total_size) {
    const Bytes bytes = serialise(atoms);
    write_bytes(path, bytes);
    if (total_size && *total_size < bytes.size()) throw std::invalid_argument("total size below the atoms");
    if (total_size && ::truncate(path.c_str(), static_cast<off_t>(*total_size)) != 0)
        throw std::runtime_error("cannot extend " + path);
}

}  // namespace mp4b
