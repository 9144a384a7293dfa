// Damaged input, one row per damaged file: each file is made here from a real
// fixture or from the test-file builder, and the tool must either refuse it
// (status 1, its one refusal, the file untouched) or convert it (status 0,
// only its own warnings, a result ffmpeg reads without a word and that the
// undo turns back into the damaged file). Nothing may crash, hang or trip a
// sanitizer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <functional>
#include <map>
#include <ostream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "atoms/be.h"
#include "tests/damaged/damaged_support.h"
#include "tests/support/mp4_builder.h"

namespace {

using dmg::Bytes;
using dmg::Fixture;
using dmg::Node;
using dmg::Packet;

const char kAbsolute[] = "empty_moov.mp4";            // absolute base data offsets
const char kMoofBased[] = "base_is_moof.mp4";         // offsets relative to the moof
const char kMoovSamples[] = "moov_with_samples.mp4";  // the moov holds real sample tables

constexpr uint32_t kMax32 = 0xFFFFFFFF;
constexpr uint64_t kMaxMoofPayload = 0x1FFFFFF;
constexpr uint64_t kMaxMoovPayload = 16777216;

// A file image: bytes from offset 0, further pieces beyond holes, and the
// file's size (the tail past the last piece left as a hole).
struct Image {
    Bytes head;
    std::vector<std::pair<uint64_t, Bytes>> pieces;
    uint64_t size = 0;
};

enum class Kind { refused, converted, either };

struct Expect {
    Kind kind = Kind::converted;
    // refused: the refusal, exactly; converted: the tool's warnings, exactly.
    std::string err;
    // converted: packets per stream that ffprobe sees; empty: not checked.
    std::vector<size_t> packets;
    // Set when the damaged input already makes ffmpeg complain and the result
    // can only carry the same fault: the complaints must then be the same.
    const char* ffmpeg_as_input = nullptr;
};

struct Case {
    Image image;
    Expect expect;
};

struct Row {
    std::string name;
    std::function<Case()> make;
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

// The first lines of a long text, for failure messages.
std::string head_of(const std::string& text, int lines = 6) {
    size_t at = 0;
    for (int i = 0; i < lines && at != std::string::npos; ++i) {
        at = text.find('\n', at);
        if (at != std::string::npos) ++at;
    }
    return at == std::string::npos || at >= text.size() ? text : text.substr(0, at) + "...\n";
}

// ---------------------------------------------------------------- messages

std::string fmt_llu(const char* format, unsigned long long a, unsigned long long b = 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, format, a, b);
    return buf;
}

std::string not_quicktime(uint64_t moov_data, uint64_t mdat_data) {
    return "Not a quicktime file in general\n" + fmt_llu("moov @ %llu\n", moov_data) +
           fmt_llu("mdat @ %llu\n", mdat_data);
}

std::string not_fragmented(uint64_t moof_data, uint64_t mvex_data) {
    return "Not a fragmented MP4 file\n" + fmt_llu("moof @ %llu\n", moof_data) + fmt_llu("mvex @ %llu\n", mvex_data);
}

std::string left_out(uint64_t n) { return fmt_llu("Left out %llu samples that lie past the end of the file\n", n); }

std::string unlocated(int times) {
    std::string s;
    for (int i = 0; i < times; ++i) s += "moof: unable to locate track\n";
    return s;
}

std::string trex_warning(uint32_t id) {
    return fmt_llu("'trex' atom warning: Unable to find track with ID %llu\n", id);
}

// ---------------------------------------------------------------- expectations

Image whole(Bytes bytes) {
    Image i;
    i.size = bytes.size();
    i.head = std::move(bytes);
    return i;
}

Case refused(Image image, std::string err) {
    return Case{std::move(image), Expect{Kind::refused, std::move(err), {}, nullptr}};
}

Case converted(Image image, std::string err, std::vector<size_t> packets) {
    return Case{std::move(image), Expect{Kind::converted, std::move(err), std::move(packets), nullptr}};
}

std::vector<size_t> all_packets(const Fixture& f) { return dmg::per_stream(f.packets, f.streams); }

std::vector<size_t> packets_if(const Fixture& f, const std::function<bool(const Packet&)>& keep) {
    return dmg::per_stream_if(f.packets, f.streams, keep);
}

bool inside(const Node& n, const Packet& p) { return p.pos >= n.start && p.pos < n.end(); }

// Every packet but those of `stream` whose data lies in `mdat`.
std::vector<size_t> without(const Fixture& f, unsigned stream, const Node& mdat) {
    return packets_if(f, [&](const Packet& p) { return !(p.stream == stream && inside(mdat, p)); });
}

size_t count_in(const Fixture& f, unsigned stream, const Node& mdat) {
    size_t n = 0;
    for (const Packet& p : f.packets) n += (p.stream == stream && inside(mdat, p)) ? 1 : 0;
    return n;
}

// Only the packets that lie before the atom (a fragment that is not merged).
std::vector<size_t> before(const Fixture& f, const Node& atom) {
    return packets_if(f, [&](const Packet& p) { return p.pos < atom.start; });
}

Bytes patched32(const Fixture& f, uint64_t at, uint32_t value) {
    Bytes b = f.bytes;
    dmg::put_u32(b, at, value);
    return b;
}

// The fixture cut short at `at`. The scan needs a moov, an mdat and a moof
// whose headers lie in the file; a moof whose header lies in the file but
// whose body does not is merged as far as it goes; otherwise the
// samples of the moofs in the file that end past the cut are left out.
Case cut_at(const Fixture& f, uint64_t at) {
    const Bytes bytes = dmg::slice(f.bytes, 0, at);
    const std::vector<Node> tree = dmg::parse_tree(bytes);
    const auto first = [&](const char* type) -> const Node* {
        const auto all = dmg::all_of(tree, type);
        return all.empty() ? nullptr : all.front();
    };
    const Node* moov = first("moov");
    const Node* mdat = first("mdat");
    if (moov == nullptr || mdat == nullptr) {
        return refused(whole(bytes), not_quicktime(moov ? moov->body() : 0, mdat ? mdat->body() : 0));
    }
    uint64_t first_missing_moof = UINT64_MAX;
    for (const Node* m : dmg::all_of(f.tree, "moof")) {
        if (m->end() <= at) continue;
        if (m->body() <= at) {
            // Merged as far as it goes; what it says of its samples is cut.
            Case c{whole(bytes), Expect{}};
            c.expect.kind = Kind::either;
            return c;
        }
        first_missing_moof = m->start;
        break;
    }
    uint64_t n = 0;
    for (const Packet& p : f.packets) n += (p.pos + p.size > at && p.pos < first_missing_moof) ? 1 : 0;
    return converted(whole(bytes), n > 0 ? left_out(n) : "",
                     packets_if(f, [&](const Packet& p) { return p.pos + p.size <= at; }));
}

// ---------------------------------------------------------------- synthetic PCM

// A fragmented file of one 8-bit PCM track at 8000 Hz, a codec for which
// every byte string is valid sample data, so that a run whose samples are
// taken from wherever its declared count leads still decodes cleanly.
constexpr uint32_t kPcmSample = 800;  // bytes and ticks of each sample (trex defaults)

struct PcmFragment {
    uint32_t declared;  // trun sample count
    uint32_t held;      // samples whose bytes follow in the mdat
    bool per_sample;    // the trun lists each sample's size
};

struct PcmFile {
    Bytes bytes;
    std::vector<uint64_t> data_at;  // where each fragment's samples begin
};

Bytes u32s(std::initializer_list<uint32_t> values) {
    Bytes out;
    BeWriter w(out);
    for (uint32_t v : values) w.u32(v);
    return out;
}

mp4b::Atom pcm_moov() {
    using mp4b::container;
    using mp4b::full;
    Bytes tkhd;
    {
        BeWriter w(tkhd);
        for (uint32_t v : {0u, 0u, 1u, 0u, 0u, 0u, 0u}) w.u32(v);  // times, track 1, durations
        w.u16(0);
        w.u16(0);
        w.u16(0x0100);  // volume
        w.u16(0);
        for (uint32_t m : {0x00010000u, 0u, 0u, 0u, 0x00010000u, 0u, 0u, 0u, 0x40000000u}) w.u32(m);
        w.u32(0);
        w.u32(0);
    }
    Bytes mdhd = u32s({0, 0, 8000, 0});
    {
        BeWriter w(mdhd);
        w.u16(0x55C4);  // "und"
        w.u16(0);
    }
    Bytes hdlr = u32s({0, mp4b::fourcc_of("soun"), 0, 0, 0});
    hdlr.push_back(0);  // empty name
    Bytes entry;
    {
        BeWriter w(entry);
        for (int i = 0; i < 3; ++i) w.u16(0);  // reserved
        w.u16(1);                              // data reference index
        w.u32(0);
        w.u32(0);
        w.u16(1);  // channels
        w.u16(8);  // bits per sample
        w.u16(0);
        w.u16(0);
        w.u16(8000);  // sample rate, 16.16 fixed point
        w.u16(0);
    }
    mp4b::Atom raw = mp4b::raw("raw ", entry);
    Bytes stsd = u32s({1});
    const Bytes raw_bytes = mp4b::serialise(raw);
    stsd.insert(stsd.end(), raw_bytes.begin(), raw_bytes.end());
    mp4b::Atom stbl =
        container("stbl", {full("stsd", 0, 0, stsd), full("stts", 0, 0, u32s({0})), full("stsc", 0, 0, u32s({0})),
                           full("stsz", 0, 0, u32s({0, 0})), full("stco", 0, 0, u32s({0}))});
    Bytes dref = u32s({1});
    const Bytes url = mp4b::serialise(full("url ", 0, 1));
    dref.insert(dref.end(), url.begin(), url.end());
    mp4b::Atom minf =
        container("minf", {full("smhd", 0, 0, u32s({0})), container("dinf", {full("dref", 0, 0, dref)}), stbl});
    mp4b::Atom mdia = container("mdia", {full("mdhd", 0, 0, mdhd), full("hdlr", 0, 0, hdlr), minf});
    mp4b::Atom trak = container("trak", {full("tkhd", 0, 3, tkhd), mdia});
    return container("moov",
                     {mp4b::mvhd(1000, 0, 2), trak, container("mvex", {mp4b::trex(1, kPcmSample, kPcmSample, 0)})});
}

PcmFile pcm_file(const std::vector<PcmFragment>& fragments) {
    std::vector<mp4b::Atom> atoms{mp4b::ftyp("isom", 512, {"isom", "iso2", "mp41"}), pcm_moov()};
    uint64_t at = mp4b::serialise(atoms).size();
    uint64_t decode = 0;
    PcmFile file;
    uint32_t sequence = 1;
    for (const PcmFragment& frag : fragments) {
        const auto make_moof = [&](uint32_t data_offset) {
            Bytes trun = u32s({frag.declared, data_offset});
            if (frag.per_sample) {
                BeWriter w(trun);
                for (uint32_t i = 0; i < frag.held; ++i) w.u32(kPcmSample);
            }
            Bytes tfdt;
            BeWriter(tfdt).u64(decode);
            const uint32_t kDataOffset = 0x000001, kSizes = 0x000200, kBaseIsMoof = 0x020000;
            return mp4b::container(
                "moof",
                {mp4b::full("mfhd", 0, 0, u32s({sequence})),
                 mp4b::container("traf", {mp4b::full("tfhd", 0, kBaseIsMoof, u32s({1})), mp4b::full("tfdt", 1, 0, tfdt),
                                          mp4b::full("trun", 0, kDataOffset | (frag.per_sample ? kSizes : 0), trun)})});
        };
        const uint64_t moof_size = make_moof(0).real_size();
        atoms.push_back(make_moof(static_cast<uint32_t>(moof_size + 8)));
        Bytes samples(static_cast<size_t>(frag.held) * kPcmSample);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<unsigned char>(i * 37 + sequence);
        atoms.push_back(mp4b::raw("mdat", samples));
        file.data_at.push_back(at + moof_size + 8);
        at += moof_size + 8 + samples.size();
        decode += uint64_t{frag.held} * kPcmSample;
        ++sequence;
    }
    file.bytes = mp4b::serialise(atoms);
    return file;
}

// ---------------------------------------------------------------- the rows

std::vector<Row> rows() {
    std::vector<Row> r;
    const auto add = [&r](std::string name, std::function<Case()> make) {
        r.push_back({std::move(name), std::move(make)});
    };
    const auto A = []() -> const Fixture& { return dmg::fixture(kAbsolute); };
    const auto B = []() -> const Fixture& { return dmg::fixture(kMoofBased); };
    const auto W = []() -> const Fixture& { return dmg::fixture(kMoovSamples); };

    // A recording cut short: at every top-level atom boundary, and inside
    // each atom of the file up to its last fragment.
    add("cut_at_0", [=] { return cut_at(A(), 0); });
    add("cut_inside_ftyp", [=] { return cut_at(A(), A().at("ftyp").size / 2); });
    add("cut_after_ftyp", [=] { return cut_at(A(), A().at("ftyp").end()); });
    add("cut_inside_moov", [=] { return cut_at(A(), A().at("moov").start + A().at("moov").size / 2); });
    add("cut_after_moov", [=] { return cut_at(A(), A().at("moov").end()); });
    add("cut_after_first_moof", [=] { return cut_at(A(), A().at("moof#1").end()); });
    add("cut_inside_first_mdat", [=] { return cut_at(A(), A().at("mdat#1").start + A().at("mdat#1").size / 2); });
    add("cut_after_first_mdat", [=] { return cut_at(A(), A().at("mdat#1").end()); });
    add("cut_inside_last_moof", [=] { return cut_at(A(), A().at("moof#2").start + A().at("moof#2").size / 2); });
    add("cut_after_last_moof", [=] { return cut_at(A(), A().at("moof#2").end()); });
    add("cut_after_last_mdat_header", [=] { return cut_at(A(), A().at("mdat#2").body()); });
    add("cut_inside_last_mdat", [=] { return cut_at(A(), A().at("mdat#2").start + A().at("mdat#2").size / 2); });
    add("cut_one_byte_short_of_last_mdat", [=] { return cut_at(A(), A().at("mdat#2").end() - 1); });
    add("cut_after_last_mdat", [=] { return cut_at(A(), A().at("mdat#2").end()); });

    // Top-level sizes 0 (to the end of the file), 1 (a 64-bit size follows),
    // 7 (malformed) and past the end.
    add("moov_size_0", [=] {
        return refused(whole(patched32(A(), A().at("moov").start, 0)), not_quicktime(A().at("moov").body(), 0));
    });
    add("moov_size_1", [=] {
        // The 64-bit size is then read from the mvhd header: far past the end.
        return refused(whole(patched32(A(), A().at("moov").start, 1)), not_quicktime(A().at("moov").start + 16, 0));
    });
    add("moov_size_7", [=] { return refused(whole(patched32(A(), A().at("moov").start, 7)), not_quicktime(0, 0)); });
    add("moov_size_past_end", [=] {
        return refused(whole(patched32(A(), A().at("moov").start, 0x7FFFFFFF)),
                       not_quicktime(A().at("moov").body(), 0));
    });
    add("ftyp_size_7", [=] { return refused(whole(patched32(A(), 0, 7)), not_quicktime(0, 0)); });
    add("first_mdat_size_0", [=] {
        // It runs to the end of the file: the second fragment lies inside it.
        return converted(whole(patched32(A(), A().at("mdat#1").start, 0)), "", before(A(), A().at("moof#2")));
    });
    add("first_mdat_size_1", [=] {
        const Node& mdat = A().at("mdat#1");
        Bytes b = patched32(A(), mdat.start, 1);
        // The 64-bit size is the payload's first eight bytes.
        uint64_t size = be::read_u64(b.data() + mdat.body());
        if (size < b.size()) throw std::runtime_error("the first mdat payload no longer reads as a size past the end");
        return converted(whole(std::move(b)), "", before(A(), A().at("moof#2")));
    });
    add("first_mdat_size_7", [=] {
        return refused(whole(patched32(A(), A().at("mdat#1").start, 7)), not_quicktime(A().at("moov").body(), 0));
    });
    add("last_mdat_size_past_end",
        [=] { return converted(whole(patched32(A(), A().at("mdat#2").start, 0x7FFFFFFF)), "", all_packets(A())); });
    add("first_moof_size_0", [=] {
        return refused(whole(patched32(A(), A().at("moof#1").start, 0)), not_quicktime(A().at("moov").body(), 0));
    });
    add("first_moof_size_7", [=] {
        return refused(whole(patched32(A(), A().at("moof#1").start, 7)), not_quicktime(A().at("moov").body(), 0));
    });
    add("last_moof_size_0", [=] {
        // The moof then holds the last mdat and the mfra: passed over inside it.
        return converted(whole(patched32(A(), A().at("moof#2").start, 0)), "", all_packets(A()));
    });
    add("last_moof_size_1",
        [=] { return converted(whole(patched32(A(), A().at("moof#2").start, 1)), "", before(A(), A().at("moof#2"))); });
    add("last_moof_size_7",
        [=] { return converted(whole(patched32(A(), A().at("moof#2").start, 7)), "", before(A(), A().at("moof#2"))); });
    add("last_moof_one_byte_past_end", [=] {
        const Node& moof = A().at("moof#2");
        return converted(whole(patched32(A(), moof.start, static_cast<uint32_t>(A().bytes.size() - moof.start + 1))),
                         "", all_packets(A()));
    });
    add("moov_with_16_byte_header", [=] {
        const Node& moov = B().at("moov");
        Bytes head;
        BeWriter w(head);
        w.u32(1);
        w.u32(mp4b::fourcc_of("moov"));
        w.u64(moov.size + 8);
        Bytes b = dmg::cat(
            {dmg::slice(B().bytes, 0, moov.start), head, dmg::slice(B().bytes, moov.body(), B().bytes.size())});
        return refused(whole(std::move(b)), "moov atom is too large\n");
    });

    // Nested sizes: moov, trak, stbl, mvex, moof, traf children.
    add("moov_child_trak_size_0", [=] {
        // The scan's own walk takes size 0 as "to the end of the moov": the
        // mvex is inside it.
        return refused(whole(patched32(A(), A().at("moov/trak#2").start, 0)),
                       not_fragmented(A().at("moof#1").body(), 0));
    });
    add("moov_child_mvhd_size_1", [=] {
        return refused(whole(patched32(A(), A().at("moov/mvhd").start, 1)), not_fragmented(A().at("moof#1").body(), 0));
    });
    add("moov_child_mvex_size_7", [=] {
        return refused(whole(patched32(A(), A().at("moov/mvex").start, 7)), not_fragmented(A().at("moof#1").body(), 0));
    });
    add("moov_child_udta_size_0",
        [=] { return converted(whole(patched32(A(), A().at("moov/udta").start, 0)), "", all_packets(A())); });
    add("trak_child_tkhd_size_7", [=] {
        // The sound track loses its ID: its trex and its fragments find no track.
        return converted(whole(patched32(A(), A().at("moov/trak#2/tkhd").start, 7)), trex_warning(2) + unlocated(2),
                         packets_if(A(), [](const Packet& p) { return p.stream == 0; }));
    });
    add("trak_child_mdia_size_past_trak", [=] {
        return converted(whole(patched32(A(), A().at("moov/trak#2/mdia").start, 0x10000)), "", all_packets(A()));
    });
    add("stbl_child_stts_size_0", [=] {
        return converted(whole(patched32(A(), A().at("moov/trak#1/mdia/minf/stbl/stts").start, 0)), "",
                         all_packets(A()));
    });
    add("stbl_child_stsd_size_1", [=] {
        Case c =
            converted(whole(patched32(A(), A().at("moov/trak#1/mdia/minf/stbl/stsd").start, 1)), "", all_packets(A()));
        c.expect.ffmpeg_as_input = "the video track has no readable sample description in the damaged input";
        return c;
    });
    add("mvex_child_trex_size_0", [=] {
        // No track gets trex defaults; every tfhd here carries its own.
        return converted(whole(patched32(A(), A().at("moov/mvex/trex#1").start, 0)), "", all_packets(A()));
    });
    add("moof_child_mfhd_size_0", [=] {
        return converted(whole(patched32(A(), A().at("moof#2/mfhd").start, 0)), "", before(A(), A().at("moof#2")));
    });
    add("moof_child_traf_size_7", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#2").start, 7)), "",
                         without(A(), 1, A().at("mdat#1")));
    });
    add("traf_child_trun_size_past_traf", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#1/trun").start, 0x1000)), "",
                         without(A(), 0, A().at("mdat#1")));
    });
    add("moov_child_trak_size_past_moov", [=] {
        return refused(whole(patched32(A(), A().at("moov/trak#2").start, 0x10000)),
                       not_fragmented(A().at("moof#1").body(), 0));
    });
    add("moof_child_traf_size_1", [=] {
        return converted(whole(patched32(A(), A().at("moof#2/traf#1").start, 1)), "", before(A(), A().at("moof#2")));
    });
    add("trun_size_0", [=] {
        return converted(whole(patched32(A(), A().at("moof#2/traf#2/trun").start, 0)), "",
                         without(A(), 1, A().at("mdat#2")));
    });
    add("trun_size_7", [=] {
        return converted(whole(patched32(A(), A().at("moof#2/traf#2/trun").start, 7)), "",
                         without(A(), 1, A().at("mdat#2")));
    });
    add("traf_child_tfhd_size_0", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#1/tfhd").start, 0)), unlocated(1),
                         without(A(), 0, A().at("mdat#1")));
    });
    add("traf_child_tfdt_size_1", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#1/tfdt").start, 1)), "",
                         without(A(), 0, A().at("mdat#1")));
    });

    // Entry counts near 2^32 in the moov's own sample tables (their entries
    // are clamped to the bytes the atom holds).
    struct CountField {
        const char* name;
        const char* path;
        uint64_t count_at;  // offset of the count in the atom
        uint32_t value;
    };
    const CountField counts[] = {
        {"stts_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/stts", 12, kMax32},
        {"stsz_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/stsz", 16, kMax32},
        {"stco_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/stco", 12, kMax32},
        {"stsc_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/stsc", 12, kMax32},
        {"ctts_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/ctts", 12, kMax32},
        {"stss_count_2e32_minus_1", "moov/trak#1/mdia/minf/stbl/stss", 12, kMax32},
        {"audio_stsz_count_2e32_minus_2", "moov/trak#2/mdia/minf/stbl/stsz", 16, kMax32 - 1},
        {"audio_stts_count_2e31", "moov/trak#2/mdia/minf/stbl/stts", 12, 0x80000000},
    };
    for (const CountField& c : counts) {
        add(c.name, [=] {
            return converted(whole(patched32(W(), W().at(c.path).start + c.count_at, c.value)), "", all_packets(W()));
        });
    }
    add("stsz_constant_size_count_2e32_minus_1", [=] {
        // A constant sample size for 2^32 - 1 samples: the tables cannot hold
        // the appended samples as they are; refusing or converting are both fine.
        const Node& stsz = W().at("moov/trak#1/mdia/minf/stbl/stsz");
        Bytes b = patched32(W(), stsz.start + 12, 1000);
        dmg::put_u32(b, stsz.start + 16, kMax32);
        Case c{whole(std::move(b)), Expect{}};
        c.expect.kind = Kind::either;
        return c;
    });

    // Runs declaring 2^32 - 1 samples: those beyond the box are left out.
    add("trun_2e32_minus_1_with_sizes_last_fragment", [=] {
        return converted(whole(patched32(A(), A().at("moof#2/traf#2/trun").start + 12, kMax32)),
                         left_out(kMax32 - count_in(A(), 1, A().at("mdat#2"))), all_packets(A()));
    });
    add("trun_2e32_minus_1_with_sizes_first_fragment", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#1/trun").start + 12, kMax32)),
                         left_out(kMax32 - count_in(A(), 0, A().at("mdat#1"))), all_packets(A()));
    });
    add("trun_ends_inside_its_data_offset", [=] {
        // The run's declared samples all lie beyond its box.
        const Node& mdat = A().at("mdat#2");
        return converted(whole(patched32(A(), A().at("moof#2/traf#2/trun").start, 18)),
                         left_out(count_in(A(), 1, mdat)), without(A(), 1, mdat));
    });
    add("trun_2e32_minus_1_without_sizes_unknown_track", [=] {
        const Node& traf = A().at("moof#1/traf#2");
        Bytes b = patched32(A(), A().at("moof#1/traf#2/tfhd").start + 12, 7);
        const Node& trun = dmg::find(traf.kids, "trun");
        dmg::put_u32(b, trun.start + 8, 0x000001);  // version 0, data offset only
        dmg::put_u32(b, trun.start + 12, kMax32);
        return converted(whole(std::move(b)), unlocated(1), without(A(), 1, A().at("mdat#1")));
    });
    add("pcm_last_trun_2e32_minus_1_without_sizes", [] {
        const PcmFile f = pcm_file({{5, 5, false}, {kMax32, 5, false}});
        const uint64_t fit = (f.bytes.size() - f.data_at[1]) / kPcmSample;
        return converted(whole(f.bytes), left_out(kMax32 - fit), {5 + fit});
    });
    add("pcm_first_trun_2e32_minus_1_without_sizes", [] {
        // Its samples would run on over the next moof, which holds no sample
        // data: the run ends with its own mdat's 5 samples, and the next
        // fragment is merged as well.
        const PcmFile f = pcm_file({{kMax32, 5, false}, {5, 5, false}});
        return converted(whole(f.bytes), left_out(kMax32 - 5), {5 + 5});
    });
    add("pcm_trun_2e32_minus_1_with_sizes", [] {
        const PcmFile f = pcm_file({{5, 5, true}, {kMax32, 5, true}});
        return converted(whole(f.bytes), left_out(kMax32 - 5), {10});
    });

    // Structure.
    add("two_moov_second_at_end", [=] {
        const Node& moov = A().at("moov");
        return converted(whole(dmg::cat({A().bytes, dmg::slice(A().bytes, moov.start, moov.end())})), "",
                         all_packets(A()));
    });
    add("two_moov_side_by_side", [=] {
        // Offsets are relative to each moof, so shifting the fragments is harmless.
        const Node& moov = B().at("moov");
        return converted(whole(dmg::cat({dmg::slice(B().bytes, 0, moov.end()),
                                         dmg::slice(B().bytes, moov.start, B().bytes.size())})),
                         "", all_packets(B()));
    });
    add("moov_after_first_fragment", [=] {
        const Node& moov = B().at("moov");
        const Node& mdat = B().at("mdat#1");
        Bytes b = dmg::cat({dmg::slice(B().bytes, 0, moov.start), dmg::slice(B().bytes, moov.end(), mdat.end()),
                            dmg::slice(B().bytes, moov.start, moov.end()),
                            dmg::slice(B().bytes, mdat.end(), B().bytes.size())});
        return refused(whole(std::move(b)), "moov overlaps mdat\n");
    });
    add("empty_mdat_before_moov", [=] {
        const Node& moov = B().at("moov");
        Bytes mdat;
        BeWriter w(mdat);
        w.u32(8);
        w.u32(mp4b::fourcc_of("mdat"));
        return refused(whole(dmg::cat({dmg::slice(B().bytes, 0, moov.start), mdat,
                                       dmg::slice(B().bytes, moov.start, B().bytes.size())})),
                       "moov overlaps mdat\n");
    });
    // A moof at the limit, and one byte beyond it, appended after the mfra:
    // a copy of the last moof (absolute offsets, so its runs point at the last
    // mdat again), padded to size with a hole.
    for (const uint64_t payload : {kMaxMoofPayload, kMaxMoofPayload + 1}) {
        const bool merged = payload == kMaxMoofPayload;
        add(merged ? "moof_payload_32mib_minus_1_sparse" : "moof_payload_32mib_sparse", [=] {
            const Node& last = A().at("moof#2");
            Bytes head = A().bytes;
            BeWriter w(head);
            w.u32(static_cast<uint32_t>(payload + 8));
            w.u32(mp4b::fourcc_of("moof"));
            w.bytes(dmg::slice(A().bytes, last.body(), last.end()));
            Image image;
            image.size = A().bytes.size() + 8 + payload;
            image.head = std::move(head);
            std::vector<size_t> packets = all_packets(A());
            if (merged) {
                for (unsigned s = 0; s < packets.size(); ++s) packets[s] += count_in(A(), s, A().at("mdat#2"));
            }
            return converted(std::move(image), "", packets);
        });
    }
    add("tfhd_unknown_track_id", [=] {
        return converted(whole(patched32(A(), A().at("moof#1/traf#2/tfhd").start + 12, 7)), unlocated(1),
                         without(A(), 1, A().at("mdat#1")));
    });
    add("trex_truncated", [=] {
        // The second trex keeps its track ID and sample description index;
        // a free atom takes the rest of its room.
        const Node& trex = A().at("moov/mvex/trex#2");
        Bytes b = A().bytes;
        dmg::put_u32(b, trex.start, 20);
        dmg::put_u32(b, trex.start + 20, 12);
        dmg::put_type(b, trex.start + 24, "free");
        return converted(whole(std::move(b)), trex_warning(0), all_packets(A()));
    });
    add("trex_for_unknown_track", [=] {
        return converted(whole(patched32(A(), A().at("moov/mvex/trex#2").start + 12, 9)), trex_warning(9),
                         all_packets(A()));
    });
    add("mvex_without_trex", [=] {
        const Node& mvex = A().at("moov/mvex");
        Bytes b = A().bytes;
        std::fill(b.begin() + static_cast<std::ptrdiff_t>(mvex.body()),
                  b.begin() + static_cast<std::ptrdiff_t>(mvex.end()), 0);
        dmg::put_u32(b, mvex.body(), static_cast<uint32_t>(mvex.size - 8));
        dmg::put_type(b, mvex.body() + 4, "free");
        return converted(whole(std::move(b)), "", all_packets(A()));
    });
    add("tfdt_going_backwards", [=] {
        Bytes b = A().bytes;
        for (const char* tfdt : {"moof#2/traf#1/tfdt", "moof#2/traf#2/tfdt"})
            dmg::put_u64(b, A().at(tfdt).start + 12, 0);
        return converted(whole(std::move(b)), "", all_packets(A()));
    });
    add("tfdt_jump_past_32_bits", [=] {
        // A decode time of 2^40 ticks for the last video fragment.
        Bytes b = A().bytes;
        dmg::put_u64(b, A().at("moof#2/traf#1/tfdt").start + 12, 0x10000000000);
        return converted(whole(std::move(b)), "", all_packets(A()));
    });
    add("first_tfdt_near_2e63", [=] {
        // The video's timeline would pass the signed 64-bit range that an
        // edit list's media times have.
        Bytes b = A().bytes;
        dmg::put_u64(b, A().at("moof#1/traf#1/tfdt").start + 12, 0x7FFFFFFFFFFFFF00);
        return refused(whole(std::move(b)), "Track timeline too long\n");
    });
    add("data_offset_minus_2e31_from_moof", [=] {
        const Node& mdat = B().at("mdat#1");
        return converted(whole(patched32(B(), B().at("moof#1/traf#1/trun").start + 16, 0x80000000)),
                         left_out(count_in(B(), 0, mdat)), without(B(), 0, mdat));
    });
    add("data_offset_one_byte_before_file_start", [=] {
        const Node& moof = B().at("moof#2");
        const Node& mdat = B().at("mdat#2");
        const uint32_t minus = static_cast<uint32_t>(0x100000000 - (moof.start + 1));
        return converted(whole(patched32(B(), B().at("moof#2/traf#2/trun").start + 16, minus)),
                         left_out(count_in(B(), 1, mdat)), without(B(), 1, mdat));
    });
    add("small_base_with_negative_data_offset", [=] {
        const Node& mdat = A().at("mdat#1");
        Bytes b = A().bytes;
        dmg::put_u64(b, A().at("moof#1/traf#2/tfhd").start + 16, 16);
        dmg::put_u32(b, A().at("moof#1/traf#2/trun").start + 16, 0x80000000);
        return converted(whole(std::move(b)), left_out(count_in(A(), 1, mdat)), without(A(), 1, mdat));
    });
    add("base_data_offset_near_2e64", [=] {
        // Base 2^64 - 16 plus the run's positive data offset lies beyond any
        // file; it must not wrap around to a position inside this one.
        const Node& mdat = A().at("mdat#1");
        return converted(whole([&] {
                             Bytes b = A().bytes;
                             dmg::put_u64(b, A().at("moof#1/traf#1/tfhd").start + 16, ~uint64_t{0} - 15);
                             return b;
                         }()),
                         left_out(count_in(A(), 0, mdat)), without(A(), 0, mdat));
    });
    add("no_ftyp", [=] {
        Bytes b = A().bytes;
        dmg::put_type(b, 4, "free");
        return refused(whole(std::move(b)), "Warning: Quicktime file without ftyp atom\nNot an MP4 file\n");
    });
    add("ftyp_without_mp4_brand", [=] {
        Bytes b = A().bytes;
        const Node& ftyp = A().at("ftyp");
        for (uint64_t at = ftyp.body(); at + 4 <= ftyp.end(); at += 4) {
            if (at != ftyp.body() + 4) dmg::put_type(b, at, "heic");
        }
        return refused(whole(std::move(b)), "Not an MP4 file\n");
    });
    add("moov_too_small_for_undo_record", [] {
        const Bytes b = mp4b::serialise(
            std::vector<mp4b::Atom>{mp4b::ftyp("isom", 512, {"isom"}), mp4b::moov_with_payload(48, true),
                                    mp4b::moof(1, 1, 0, 2, 16), mp4b::raw_of_size("mdat", 32, 0x5A)});
        return refused(whole(b), "moov atom is too small for the undo record\n");
    });
    // A moov padded by a free atom (a hole) to exactly the largest payload
    // taken, and to one byte more.
    for (const uint64_t payload : {kMaxMoovPayload, kMaxMoovPayload + 1}) {
        const bool taken = payload == kMaxMoovPayload;
        add(taken ? "moov_payload_16mib_sparse" : "moov_payload_16mib_plus_1_sparse", [=] {
            const Node& moov = B().at("moov");
            const uint64_t pad = payload - (moov.size - 8);
            Bytes head = dmg::slice(B().bytes, 0, moov.start);
            BeWriter w(head);
            w.u32(static_cast<uint32_t>(payload + 8));
            w.u32(mp4b::fourcc_of("moov"));
            w.bytes(dmg::slice(B().bytes, moov.body(), moov.end()));
            w.u32(static_cast<uint32_t>(pad));
            w.u32(mp4b::fourcc_of("free"));
            Image image;
            const uint64_t rest_at = moov.start + 8 + payload;
            image.head = std::move(head);
            image.pieces.push_back({rest_at, dmg::slice(B().bytes, moov.end(), B().bytes.size())});
            image.size = rest_at + (B().bytes.size() - moov.end());
            if (!taken) return refused(std::move(image), "moov atom is too large\n");
            return converted(std::move(image), "", all_packets(B()));
        });
    }
    add("mdat_size_0_swallows_every_moof", [=] {
        return refused(whole(patched32(W(), W().at("mdat#1").start, 0)), not_fragmented(0, W().at("moov/mvex").body()));
    });
    return r;
}

// ---------------------------------------------------------------- the test

std::map<std::string, int>& outcomes() {
    static std::map<std::string, int> by_row;
    return by_row;
}

class DamagedInput : public ::testing::TestWithParam<Row> {
public:
    static void TearDownTestSuite() {
        int refusals = 0, conversions = 0, other = 0;
        for (const auto& [name, status] : outcomes()) {
            if (status == 1)
                ++refusals;
            else if (status == 0)
                ++conversions;
            else
                ++other;
        }
        std::printf("damaged inputs: %zu rows run, %d refused, %d converted, %d crashed, hung or tripped a sanitizer\n",
                    outcomes().size(), refusals, conversions, other);
    }
};

void write_image(const std::string& path, const Image& image) {
    tool::write_range(path, 0, image.head);
    for (const auto& [at, bytes] : image.pieces) tool::write_range(path, at, bytes);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(image.size)), 0);
}

bool allowed_warning(const std::string& line) {
    static const std::regex allowed(
        "moof: unable to locate track|'trex' atom warning: Unable to find track with ID [0-9]+|"
        "Left out [0-9]+ samples that lie past the end of the file");
    return std::regex_match(line, allowed);
}

TEST_P(DamagedInput, RefusedUntouchedOrConvertedAndUndone) {
    const Case c = GetParam().make();
    tool::TempDir dir;
    const std::string path = dir.file("damaged.mp4");
    write_image(path, c.image);
    const Bytes damaged = tool::read_file(path);
    const std::string ffmpeg_before = c.expect.ffmpeg_as_input ? dmg::ffmpeg_complaints(path) : "";

    const dmg::Outcome r = dmg::run_tool({"-f", path});
    outcomes()[GetParam().name] = dmg::has_sanitizer_report(r.err) ? -1 : r.status;
    ASSERT_FALSE(r.timed_out) << "still running after " << dmg::kTimeoutSeconds << " s; stderr: " << r.err;
    EXPECT_FALSE(dmg::has_sanitizer_report(r.err)) << r.err;
    ASSERT_TRUE(r.status == 0 || r.status == 1) << "status " << r.status << ", stderr: " << r.err;
    EXPECT_EQ(r.out, "");

    if (c.expect.kind == Kind::refused) {
        ASSERT_EQ(r.status, 1) << "converted, stderr: " << r.err;
    }
    if (c.expect.kind == Kind::converted) {
        ASSERT_EQ(r.status, 0) << "refused: " << r.err;
    }

    if (r.status == 1) {
        if (c.expect.kind == Kind::refused) {
            EXPECT_EQ(r.err, c.expect.err);
        } else {
            EXPECT_EQ(dmg::line_count(r.err), 1) << r.err;
        }
        EXPECT_EQ(dmg::difference(damaged, tool::read_file(path)), "") << "the refused file was changed";
        return;
    }

    if (c.expect.kind == Kind::converted) {
        EXPECT_EQ(r.err, c.expect.err);
    } else {
        std::istringstream lines(r.err);
        std::string line;
        while (std::getline(lines, line)) EXPECT_TRUE(allowed_warning(line)) << line;
    }
    const std::string complaints = dmg::ffmpeg_complaints(path);
    if (c.expect.ffmpeg_as_input) {
        EXPECT_TRUE(complaints == ffmpeg_before) << c.expect.ffmpeg_as_input << "\nffmpeg on the damaged file:\n"
                                                 << head_of(ffmpeg_before) << "ffmpeg on the converted file:\n"
                                                 << head_of(complaints);
    } else {
        EXPECT_TRUE(complaints.empty()) << "ffmpeg on the converted file:\n" << head_of(complaints);
    }
    if (!c.expect.packets.empty()) {
        EXPECT_EQ(dmg::per_stream(dmg::probe_packets(path), c.expect.packets.size()), c.expect.packets)
            << "packets per stream";
    }

    const dmg::Outcome undo = dmg::run_tool({"--undo", "-f", path});
    ASSERT_FALSE(undo.timed_out);
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.err, "");
    EXPECT_EQ(dmg::difference(damaged, tool::read_file(path)), "") << "after the undo";
}

INSTANTIATE_TEST_SUITE_P(Rows, DamagedInput, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& row) { return row.param.name; });

}  // namespace
