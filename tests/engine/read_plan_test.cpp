// How the file is read. The one rule for atom headers, as byte images walked
// both in memory and on the file: the same atoms either way. The read plan:
// a recording laid out with each kind of index, true or lying, converts to
// the very same plan with its fragments read ahead as without.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <sstream>

#include "atoms/child_walk.h"
#include "atomstack/top_level_walk.h"
#include "engine/conversion.h"
#include "tests/support/atom_bytes.h"
#include "tests/support/mp4_builder.h"

namespace {

using atom_bytes::hex;
using mp4b::Bytes;

std::string type_of(uint32_t t) {
    std::string s(4, ' ');
    be::put_u32(reinterpret_cast<unsigned char*>(s.data()), t);
    return s;
}

TEST(Reader, OneRuleForHeadersInMemoryAndOnTheFile) {
    // Each atom as "type start+header..end", "cut" when it claims past the image.
    const struct { const char* what; const char* image; const char* atoms; } rows[] = {
        {"size 0 runs to the end", "00000008 66726565  00000000 6D646174 0102030405060708",
         "free 0+8..8 mdat 8+8..24"},
        {"size 0 before others still runs to the end", "00000000 66726565  00000008 6D6F6F76", "free 0+8..16"},
        {"size 1 takes the 64-bit size", "00000001 6D646174 00000000 00000018 AABBCCDDEEFF0011  00000008 66726565",
         "mdat 0+16..24 free 24+8..32"},
        {"a 64-bit size below 16 ends the walk", "00000008 66726565  00000001 6D646174 00000000 0000000F 00000000",
         "free 0+8..8"},
        {"a size below 8 ends the walk", "00000008 66726565  00000007 66726565 00000000", "free 0+8..8"},
        {"a 64-bit header cut short ends the walk", "00000008 66726565  00000001 6D646174 00000000",
         "free 0+8..8"},
        {"fewer than 8 bytes left: no header", "00000008 66726565  00000010 6D6F6F", "free 0+8..8"},
        {"past the parent: reported, the last one", "00000008 66726565  00000064 6D646174 01020304",
         "free 0+8..8 mdat 8+8..20 cut"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes image = hex(row.image);
        std::ostringstream memory, file;
        walk_children(
            image.data(), image.size(),
            [&](const ChildAtom& c) {
                const size_t start = static_cast<size_t>(c.atom - image.data());
                memory << (memory.tellp() > 0 ? " " : "") << type_of(c.type) << " " << start << "+" << c.header << ".."
                       << start + c.size << (c.cut ? " cut" : "");
            },
            true);
        TopLevelWalk walk(FileReader(image), 0, image.size());
        for (AtomHeader a; walk.next(a);) {
            file << (file.tellp() > 0 ? " " : "") << type_of(a.type) << " " << a.start << "+" << a.header << ".."
                 << std::min<uint64_t>(a.end, image.size()) << (a.end > image.size() ? " cut" : "");
        }
        EXPECT_EQ(memory.str(), row.atoms);
        EXPECT_EQ(file.str(), row.atoms);
    }
    // The walks of a movie's children leave a child past their parent out.
    size_t seen = 0;
    walk_children(hex("00000008 66726565  00000064 6D646174 01020304").data(), 20, [&](const ChildAtom&) { ++seen; });
    EXPECT_EQ(seen, 1u);
}

// A recording of 8 fragments of one video track, then what each row adds.
// Each fragment's media data is larger than a read, so that the walk jumps
// from fragment to fragment and takes what was read ahead.
constexpr int kFragments = 8;
constexpr uint32_t kSampleSize = 20000;

mp4b::Atom sidx(uint64_t first_offset, const std::vector<uint32_t>& sizes) {
    Bytes body = atom_bytes::words({1, 30000, 0, static_cast<uint32_t>(first_offset), static_cast<uint32_t>(sizes.size())});
    for (uint32_t size : sizes) BeWriter(body).bytes(atom_bytes::words({size, 3000, 0x90000000}));
    return mp4b::full("sidx", 0, 0, body);
}

mp4b::Atom mfra(const std::vector<uint64_t>& offsets, uint32_t count) {
    Bytes tfra = atom_bytes::words({1, 0, count});
    for (uint64_t offset : offsets) {
        BeWriter w(tfra);
        w.u64(0);
        w.u64(offset);
        w.bytes(Bytes{1, 1, 1});
    }
    const mp4b::Atom table = mp4b::full("tfra", 1, 0, tfra);
    const uint32_t size = static_cast<uint32_t>(8 + table.real_size() + 16);
    return mp4b::container("mfra", {table, mp4b::full("mfro", 0, 0, atom_bytes::words({size}))});
}

TEST(ReadPlan, AnIndexTrueOrLyingChangesNothingButTheReads) {
    using Layout = std::function<Bytes(const std::vector<mp4b::Atom>& head, std::vector<mp4b::Atom> fragments)>;
    // Offsets of the fragments' moofs in the file that `head`, then `fragments` make.
    const auto moofs_after = [](const std::vector<mp4b::Atom>& head, const std::vector<mp4b::Atom>& fragments) {
        std::vector<uint64_t> at;
        uint64_t pos = mp4b::serialise(head).size();
        for (const mp4b::Atom& a : fragments) {
            if (a.type == mp4b::fourcc_of("moof")) at.push_back(pos);
            pos += a.real_size();
        }
        return at;
    };
    const auto with_mfra = [&](std::function<std::vector<uint64_t>(std::vector<uint64_t>)> entries, int extra_count = 0) {
        return Layout([=](const std::vector<mp4b::Atom>& head, std::vector<mp4b::Atom> fragments) {
            const std::vector<uint64_t> named = entries(moofs_after(head, fragments));
            fragments.push_back(mfra(named, static_cast<uint32_t>(named.size() + extra_count)));
            return atom_bytes::cat({mp4b::serialise(head), mp4b::serialise(fragments)});
        });
    };
    const auto with_global_sidx = [&](uint64_t first_offset) {
        return Layout([=](std::vector<mp4b::Atom> head, std::vector<mp4b::Atom> fragments) {
            std::vector<uint32_t> sizes;
            for (size_t i = 0; i < fragments.size(); i += 2)
                sizes.push_back(static_cast<uint32_t>(fragments[i].real_size() + fragments[i + 1].real_size()));
            head.push_back(sidx(first_offset, sizes));
            return atom_bytes::cat({mp4b::serialise(head), mp4b::serialise(fragments)});
        });
    };
    const struct { const char* what; Layout layout; uint64_t read_ahead; } rows[] = {
        {"no index", with_mfra([](auto) { return std::vector<uint64_t>{}; }), 0},
        {"mfra", with_mfra([](auto at) { return at; }), kFragments},
        {"mfra, wrong offsets", with_mfra([](auto at) { for (auto& a : at) a += 5; return at; }), kFragments},
        {"mfra, every other fragment", with_mfra([](auto at) {
             std::vector<uint64_t> half;
             for (size_t i = 0; i < at.size(); i += 2) half.push_back(at[i]);
             return half; }), kFragments / 2},
        {"mfra, extra entries", with_mfra([](auto at) {
             const uint64_t last = at.back();
             for (uint64_t extra : {at[0], at[1] + 20, uint64_t{0}, last + 100000, last + 3}) at.push_back(extra);
             return at; }), kFragments + 3},
        {"mfra, entries cut short", with_mfra([](auto at) { return at; }, 5), kFragments},
        {"global sidx", with_global_sidx(0), kFragments},
        {"global sidx, wrong first offset", with_global_sidx(7), kFragments},
        {"sidx before each fragment", Layout([](const std::vector<mp4b::Atom>& head, std::vector<mp4b::Atom> fragments) {
             std::vector<mp4b::Atom> laid;
             for (size_t i = 0; i < fragments.size(); i += 2) {
                 laid.push_back(sidx(0, {static_cast<uint32_t>(fragments[i].real_size() + fragments[i + 1].real_size())}));
                 laid.push_back(fragments[i]);
                 laid.push_back(fragments[i + 1]);
             }
             return atom_bytes::cat({mp4b::serialise(head), mp4b::serialise(laid)}); }), 0},
    };
    const std::vector<mp4b::Atom> head = {mp4b::ftyp("isom", 0, {"isom"}),
                                          mp4b::movie({mp4b::minimal_track(1, "vide", 30000)}, true)};
    std::vector<mp4b::Atom> fragments;
    for (int i = 0; i < kFragments; ++i) {
        const uint32_t size = kSampleSize + static_cast<uint32_t>(i);
        fragments.push_back(mp4b::moof(static_cast<uint32_t>(i + 1), 1, 3000u * static_cast<uint32_t>(i), 3, size));
        fragments.push_back(mp4b::raw_of_size("mdat", 3 * size, static_cast<unsigned char>(i)));
    }
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Bytes image = row.layout(head, fragments);
        const FileReader file(image);
        const FileTail tail = read_tail(file);
        const auto plan = [&](bool read_ahead) {
            qt_moov_info movie;
            return plan_conversion(file, movie, {image.size(), false, false, {}, &tail, read_ahead});
        };
        const ConversionPlan ahead = plan(true), serial = plan(false);
        ASSERT_TRUE(serial.refusal.ok());
        EXPECT_EQ(ahead.read_ahead, row.read_ahead);
        EXPECT_EQ(ahead.fragments, static_cast<uint64_t>(kFragments));
        EXPECT_TRUE(ahead.new_moov == serial.new_moov);
        EXPECT_TRUE(encode_journal(ahead.journal) == encode_journal(serial.journal));
        EXPECT_TRUE(ahead.relocation.appended.bytes == serial.relocation.appended.bytes);
    }
}

// A moof of any size up to 1 GiB is merged whole, here one grown to 33 MiB
// by a free child in front of its media data; one declared larger refuses
// the file before anything is written.
TEST(ReadPlan, MoofsUpTo1GiBMergedLargerRefused) {
    const auto file = [](uint32_t free_bytes, std::optional<uint64_t> forced) {
        std::vector<mp4b::Atom> atoms = {mp4b::ftyp("isom", 0, {"isom"}),
                                         mp4b::movie({mp4b::minimal_track(1, "vide", 30000)}, true)};
        for (uint32_t i = 0; i < 3; ++i) {
            mp4b::Atom moof = mp4b::moof(i + 1, 1, 3000u * i, 5, 1000);
            if (i == 1) {
                moof.children.push_back(mp4b::raw_of_size("free", free_bytes - 8));
                unsigned char* data_offset = moof.children[1].children[2].payload.data() + 8;
                be::put_u32(data_offset, be::read_u32(data_offset) + free_bytes);
                if (forced) moof.force_size(*forced);
            }
            atoms.push_back(moof);
            atoms.push_back(mp4b::raw_of_size("mdat", 5000, static_cast<unsigned char>(i)));
        }
        return mp4b::serialise(atoms);
    };
    const struct { const char* what; Bytes image; Msg refusal; uint64_t samples; } rows[] = {
        {"a moof of 33 MiB", file(33 << 20, std::nullopt), Msg::none, 15},
        {"a moof declared past 1 GiB", file(8, (uint64_t{1} << 30) + 9), Msg::failed_read_moof, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        qt_moov_info movie;
        const ConversionPlan p = plan_conversion(FileReader(row.image), movie, {row.image.size(), false, false, {}});
        EXPECT_EQ(p.refusal.msg, row.refusal);
        if (row.refusal == Msg::none) {
            EXPECT_EQ(movie.tracks.at(0).sumSampleCounts(), row.samples);
        }
        EXPECT_EQ(p.merged.samples_left_out, 0u);
    }
}

}  // namespace
