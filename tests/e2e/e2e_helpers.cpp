#include "tests/e2e/e2e_helpers.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "atoms/be.h"
#include "tests/support/file_atoms.h"

namespace e2e {

const char kDebugDone[] = "debug function complete: moov appended as-is to the end. It should play.\n";
const char kVersionPrefix[] = "Tolvane fragmented MP4 to non-fragmented MP4 converter";

Atom isom_ftyp() { return mp4b::ftyp("isom", 512, {"isom", "iso2", "mp41"}); }

Atom mdat(size_t payload_len, unsigned char fill) { return mp4b::raw_of_size("mdat", payload_len, fill); }

std::vector<Atom> two_fragments() {
    return {mp4b::moof(1, 1, 0, 3, 20), mdat(60, 0x11), mp4b::moof(2, 1, 3000, 3, 20),
            mdat(60, 0x22)};
}

std::vector<Atom> fragmented_file(uint64_t moov_payload, std::vector<Atom> rest) {
    std::vector<Atom> atoms{isom_ftyp(), mp4b::moov_with_payload(moov_payload, true)};
    for (Atom& a : rest) atoms.push_back(std::move(a));
    return atoms;
}

std::vector<std::string> with_file(std::vector<std::string> switches, const std::string& path) {
    switches.push_back("-f");
    switches.push_back(path);
    return switches;
}

void expect_refused(const std::string& path, const std::vector<std::string>& switches,
                    const std::string& err) {
    const Bytes before = tool::read_file(path);
    const tool::Result r = tool::run(with_file(switches, path));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, err);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(difference(before, tool::read_file(path)), "") << "the refused file was changed";
}

uint32_t u32_at(const std::string& path, uint64_t offset) {
    const Bytes b = tool::read_range(path, offset, 4);
    BeReader r(b.data(), b.size());
    return r.u32();
}

uint64_t u64_at(const std::string& path, uint64_t offset) {
    const Bytes b = tool::read_range(path, offset, 8);
    BeReader r(b.data(), b.size());
    return r.u64();
}

std::string type_at(const std::string& path, uint64_t offset) {
    const Bytes b = tool::read_range(path, offset, 4);
    return std::string(b.begin(), b.end());
}

void put_u32_at(const std::string& path, uint64_t offset, uint32_t value) {
    Bytes b(4);
    be::put_u32(b.data(), value);
    tool::write_range(path, offset, b);
}

void put_u64_at(const std::string& path, uint64_t offset, uint64_t value) {
    Bytes b(8);
    be::put_u64(b.data(), value);
    tool::write_range(path, offset, b);
}

void put_type_at(const std::string& path, uint64_t offset, const std::string& type) {
    tool::write_range(path, offset, Bytes(type.begin(), type.end()));
}

Original describe(const std::string& path) {
    const std::vector<fa::Node> atoms = fa::atom_tree(path);
    const std::vector<const fa::Node*> moov = fa::all_of(atoms, "moov"), first_mdat = fa::all_of(atoms, "mdat");
    Original o;
    o.size = tool::file_size(path);
    EXPECT_TRUE(!moov.empty() && !first_mdat.empty()) << path << " lacks a top-level moov or mdat";
    if (moov.empty() || first_mdat.empty()) return o;
    o.moov_at = moov[0]->start;
    o.moov_payload = moov[0]->size - moov[0]->header;
    o.first_mdat_at = first_mdat[0]->start;
    o.moov_atom = tool::read_range(path, moov[0]->start, moov[0]->size);
    return o;
}

namespace {

void expect_header(const std::string& path, uint64_t at, uint32_t size, const std::string& type) {
    EXPECT_EQ(type_at(path, at + 4), type) << "at offset " << at;
    EXPECT_EQ(u32_at(path, at), size) << "size of " << type << " at offset " << at;
}

Bytes slice(const Bytes& b, uint64_t from, uint64_t to) {
    to = std::min<uint64_t>(to, b.size());
    from = std::min(from, to);
    return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(to));
}

}  // namespace

Relocated expect_debug_layout(const std::string& path, const Original& o, uint64_t H,
                              const Bytes& original_head) {
    Relocated r;
    r.M = o.moov_at;
    r.N = o.moov_payload;
    r.S = o.size;
    r.H = H;
    EXPECT_EQ(tool::file_size(path), r.S + r.N + 8);

    expect_header(path, r.M, static_cast<uint32_t>(r.N - H + 8), "TOLV");
    EXPECT_EQ(type_at(path, r.M + 12), "VERS");
    const uint32_t vers_size = u32_at(path, r.M + 8);
    EXPECT_GE(vers_size, 8u + sizeof kVersionPrefix - 1);
    r.L = vers_size >= 8 ? vers_size - 8 : 0;
    const Bytes text = tool::read_range(path, r.M + 16, sizeof kVersionPrefix - 1);
    EXPECT_EQ(std::string(text.begin(), text.end()), kVersionPrefix);

    const uint64_t O = r.orig_at();
    expect_header(path, O, 64, "ORIG");
    expect_header(path, O + 8, 16, "OFSZ");
    EXPECT_EQ(u64_at(path, r.ofsz_value_at()), r.S) << "OFSZ";
    expect_header(path, O + 24, 16, "OMDT");
    EXPECT_EQ(u64_at(path, r.omdt_value_at()), o.first_mdat_at) << "OMDT";
    expect_header(path, O + 40, 24, "OMOV");
    EXPECT_EQ(u64_at(path, r.omov_moov_at()), r.M) << "OMOV moov offset";
    EXPECT_EQ(u64_at(path, r.omov_saved_at()), r.S) << "OMOV saved copy offset";
    EXPECT_EQ(u32_at(path, r.final_zero_at()), 0u) << "final zero";

    const uint64_t P = r.P();
    EXPECT_EQ(type_at(path, P + 4), "mdat") << "new mdat header at " << P;
    if (H == 8) {
        EXPECT_EQ(u32_at(path, P), r.S - P) << "new mdat size";
    } else {
        EXPECT_EQ(u32_at(path, P), 1u) << "new mdat size field";
        EXPECT_EQ(u64_at(path, P + 8), r.S - P) << "new mdat 64-bit size";
    }

    EXPECT_EQ(difference(o.moov_atom, tool::read_range(path, r.S, r.N + 8)), "")
        << "the moov appended at " << r.S;
    EXPECT_EQ(difference(slice(original_head, 0, r.M), tool::read_range(path, 0, r.M)), "")
        << "bytes before the moov";
    const uint64_t kept_end = std::min<uint64_t>(r.S, original_head.size());
    if (kept_end > P + H) {
        EXPECT_EQ(difference(slice(original_head, P + H, kept_end),
                             tool::read_range(path, P + H, kept_end - (P + H))),
                  "")
            << "bytes after the new mdat header";
    }
    return r;
}

uint64_t version_text_length() {
    static const uint64_t length = [] {
        tool::TempDir dir;
        const std::string path = dir.file("probe.mp4");
        mp4b::write_file(path, fragmented_file(4096, two_fragments()));
        const Original o = describe(path);
        const tool::Result r = tool::run(with_file({"--dbg-move-moov"}, path));
        if (r.status != 0) return uint64_t{0};
        const uint32_t vers_size = u32_at(path, o.moov_at + 8);
        return vers_size > 8 ? uint64_t{vers_size - 8} : uint64_t{0};
    }();
    return length;
}

}  // namespace e2e
