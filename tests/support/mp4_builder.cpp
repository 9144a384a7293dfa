#include "tests/support/mp4_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "atoms/be.h"

namespace mp4b {

namespace {

void append(BeWriter& w, const Atom& atom) {
    const uint64_t real = atom.real_size();
    const uint64_t size = atom.forced_size.value_or(real);
    if (atom.large) {
        w.u32(1);
        w.u32(atom.type);
        w.u64(size);
    } else {
        w.u32(static_cast<uint32_t>(size));
        w.u32(atom.type);
    }
    w.bytes(atom.payload);
    for (const Atom& child : atom.children) append(w, child);
}

Bytes zeros(size_t n) { return Bytes(n, 0); }

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Payload bytes from a list of 32-bit fields.
Bytes u32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    BeWriter w(out);
    for (uint32_t v : values) w.u32(v);
    return out;
}

const uint32_t kUnityMatrix[9] = {0x00010000, 0, 0, 0, 0x00010000, 0, 0, 0, 0x40000000};

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
    Atom a;
    a.type = fourcc_of(type);
    a.children = std::move(children);
    return a;
}

Atom full(const std::string& type, uint8_t version, uint32_t flags, Bytes payload) {
    Bytes body;
    BeWriter w(body);
    w.version_flags(version, flags);
    w.bytes(payload);
    return raw(type, std::move(body));
}

Atom ftyp(const std::string& major, uint32_t minor, const std::vector<std::string>& compatible) {
    Bytes body;
    BeWriter w(body);
    w.u32(fourcc_of(major));
    w.u32(minor);
    for (const std::string& brand : compatible) w.u32(fourcc_of(brand));
    return raw("ftyp", std::move(body));
}

Atom mvhd(uint32_t timescale, uint64_t duration, uint32_t next_track_id) {
    Bytes body;
    BeWriter w(body);
    w.u32(0);  // creation time
    w.u32(0);  // modification time
    w.u32(timescale);
    w.u32(static_cast<uint32_t>(duration));
    w.u32(0x00010000);  // rate 1.0
    w.u16(0x0100);      // volume 1.0
    w.bytes(zeros(10));
    for (uint32_t m : kUnityMatrix) w.u32(m);
    w.bytes(zeros(24));  // pre-defined
    w.u32(next_track_id);
    return full("mvhd", 0, 0, std::move(body));
}

Atom trex(uint32_t track_id, uint32_t duration, uint32_t size, uint32_t flags) {
    return full("trex", 0, 0, u32s({track_id, 1, duration, size, flags}));
}

Atom movie(std::vector<Atom> tracks, bool fragmented, const std::vector<uint32_t>& trex_ids) {
    std::vector<Atom> children;
    children.push_back(mvhd(1000, 0, static_cast<uint32_t>(tracks.size() + 1)));
    for (Atom& t : tracks) children.push_back(std::move(t));
    if (fragmented) {
        std::vector<Atom> trexes;
        for (uint32_t id : trex_ids) trexes.push_back(trex(id));
        children.push_back(container("mvex", std::move(trexes)));
    }
    return container("moov", std::move(children));
}

Atom minimal_track(uint32_t track_id, const std::string& handler, uint32_t timescale) {
    Bytes tkhd_body;
    {
        BeWriter w(tkhd_body);
        w.u32(0);
        w.u32(0);
        w.u32(track_id);
        w.u32(0);  // reserved
        w.u32(0);  // duration
        w.bytes(zeros(8));
        w.u16(0);  // layer
        w.u16(0);  // alternate group
        w.u16(handler == "soun" ? 0x0100 : 0);
        w.u16(0);
        for (uint32_t m : kUnityMatrix) w.u32(m);
        w.u32(handler == "vide" ? 160u << 16 : 0);
        w.u32(handler == "vide" ? 120u << 16 : 0);
    }
    Bytes mdhd_body = u32s({0, 0, timescale, 0});
    mdhd_body.push_back(0x55);  // language "und"
    mdhd_body.push_back(0xC4);
    mdhd_body.push_back(0);
    mdhd_body.push_back(0);
    Bytes hdlr_body = concat({u32s({0, fourcc_of(handler), 0, 0, 0}), Bytes{0}});

    Atom stbl = container("stbl", {full("stsd", 0, 0, u32s({0})), full("stts", 0, 0, u32s({0})),
                                   full("stsc", 0, 0, u32s({0})), full("stsz", 0, 0, u32s({0, 0})),
                                   full("stco", 0, 0, u32s({0}))});
    Atom minf = container("minf", {std::move(stbl)});
    Atom mdia = container("mdia", {full("mdhd", 0, 0, std::move(mdhd_body)),
                                   full("hdlr", 0, 0, std::move(hdlr_body)), std::move(minf)});
    return container("trak", {full("tkhd", 0, 3, std::move(tkhd_body)), std::move(mdia)});
}

Atom moov_with_payload(uint64_t payload_len, bool fragmented) {
    Atom moov = container("moov", {});
    uint64_t left = payload_len;
    if (fragmented) {
        if (payload_len < 8) throw std::invalid_argument("moov too small for mvex");
        Atom mvex = container("mvex", {trex(1)});
        if (mvex.real_size() > payload_len) {
            // No room for a trex: an mvex of zero bytes fills the moov.
            moov.children.push_back(raw("mvex", zeros(static_cast<size_t>(payload_len - 8))));
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
    if (left >= 8) {
        moov.children.push_back(raw_of_size("free", left - 8));
    } else {
        moov.payload = zeros(static_cast<size_t>(left));
    }
    return moov;
}

uint64_t TrackRun::data_bytes() const {
    uint64_t bytes = 0;
    for (const Sample& s : samples) bytes += s.size;
    return bytes;
}

Atom fragment(uint32_t sequence, const std::vector<TrackRun>& runs, std::optional<uint64_t> base_data_offset) {
    const uint32_t kBaseDataOffsetPresent = 0x000001;  // tfhd
    const uint32_t kDefaultBaseIsMoof = 0x020000;      // tfhd
    const uint32_t kDataOffsetPresent = 0x000001;      // trun, then its per-sample fields
    const uint32_t kDuration = 0x000100, kSize = 0x000200, kFlags = 0x000400, kCompositionOffset = 0x000800;
    Atom m = container("moof", {full("mfhd", 0, 0, u32s({sequence}))});
    for (const TrackRun& run : runs) {
        uint32_t fields = 0;
        bool negative = false;
        for (const Sample& s : run.samples) {
            fields |= (s.duration ? kDuration : 0) | (s.size ? kSize : 0) | (s.flags ? kFlags : 0) |
                      (s.composition_offset ? kCompositionOffset : 0);
            negative = negative || s.composition_offset < 0;
        }
        Bytes trun_body;
        BeWriter w(trun_body);
        w.u32(static_cast<uint32_t>(run.samples.size()));
        w.u32(0);  // data offset, patched below
        for (const Sample& s : run.samples) {
            if (fields & kDuration) w.u32(s.duration);
            if (fields & kSize) w.u32(s.size);
            if (fields & kFlags) w.u32(s.flags);
            if (fields & kCompositionOffset) w.u32(static_cast<uint32_t>(s.composition_offset));
        }
        Bytes tfhd_body = u32s({run.track_id});
        if (base_data_offset) BeWriter(tfhd_body).u64(*base_data_offset);
        Bytes tfdt_body;
        BeWriter(tfdt_body).u64(run.decode_time);
        const uint32_t tfhd_flags = base_data_offset ? kBaseDataOffsetPresent : kDefaultBaseIsMoof;
        m.children.push_back(container("traf", {full("tfhd", 0, tfhd_flags, std::move(tfhd_body)),
                                                full("tfdt", 1, 0, std::move(tfdt_body)),
                                                full("trun", negative ? 1 : 0, kDataOffsetPresent | fields,
                                                     std::move(trun_body))}));
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

Atom moof(uint32_t sequence, uint32_t track_id, uint64_t decode_time, uint32_t sample_count,
          uint32_t sample_size) {
    const std::vector<Sample> samples(sample_count, Sample{0, sample_size});
    return fragment(sequence, {TrackRun{track_id, decode_time, samples}});
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
    if (fd < 0) throw std::runtime_error("cannot create " + path);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            ::close(fd);
            throw std::runtime_error("short write to " + path);
        }
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

void write_file(const std::string& path, const std::vector<Atom>& atoms,
                std::optional<uint64_t> total_size) {
    const Bytes bytes = serialise(atoms);
    write_bytes(path, bytes);
    if (total_size) {
        if (*total_size < bytes.size()) throw std::invalid_argument("total size below the atoms");
        if (::truncate(path.c_str(), static_cast<off_t>(*total_size)) != 0)
            throw std::runtime_error("cannot extend " + path);
    }
}

}  // namespace mp4b
