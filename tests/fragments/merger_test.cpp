// The fragment merger: moof bodies written by hand, merged into a movie
// parsed from a hand-written moov body, and the tracks' tables checked entry
// by entry (and, for two scenarios, as the written stbl bytes).
#include "fragments/merger.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "atoms/fourcc.h"
#include "tests/support/atom_bytes.h"

namespace {

using atom_bytes::atom;
using atom_bytes::Bytes;
using atom_bytes::cat;
using atom_bytes::full_atom;
using atom_bytes::hex;
using atom_bytes::to_hex;
using atom_bytes::u64;
using atom_bytes::words;
using atom_bytes::written;

constexpr uint32_t kVide = fourcc("vide");
constexpr uint32_t kSoun = fourcc("soun");

// Sample flags as ffmpeg writes them, and as writers that only set the
// non-sync bit do.
constexpr uint32_t kSyncFf = 0x02000000;     // depends on no other
constexpr uint32_t kNonSyncFf = 0x01010000;  // depends on others, non-sync
constexpr uint32_t kNonSyncBit = 0x00010000;

// ---- The movie ----

// A sample description and the four tables every stbl has, all without
// samples: the movie of a file whose samples are all in fragments.
const Bytes kStsd = hex("00000010 73747364 00 000000 00000000");  // 'stsd', 0 entries
const Bytes kNoSamples = cat({
    kStsd,
    hex("00000010 73747473 00 000000 00000000"),            // 'stts', 0 entries
    hex("00000010 73747363 00 000000 00000000"),            // 'stsc', 0 entries
    hex("00000014 7374737A 00 000000 00000000 00000000"),   // 'stsz', size 0, count 0
    hex("00000010 7374636F 00 000000 00000000"),            // 'stco', 0 entries
});
// An sdtp without entries: fragment samples record their flags in it, which
// shows the flags each sample was given.
const Bytes kEmptySdtp = hex("0000000C 73647470 00 000000");

// tkhd (version 0, the ID), mdia with mdhd (timescale 1000), hdlr of the
// handler, and minf/stbl holding `stbl_children`.
Bytes trak(uint32_t id, uint32_t handler, const Bytes& stbl_children) {
    return atom("trak", cat({
        // creation, modification, track_ID, reserved, duration; the rest zero
        full_atom("tkhd", 0, 3, cat({words({0, 0, id, 0, 0}), Bytes(60, 0)})),
        atom("mdia", cat({
            // creation, modification, timescale 1000, duration, language 'und'
            full_atom("mdhd", 0, 0, words({0, 0, 1000, 0, 0x55C40000})),
            // pre_defined, handler type, 3 reserved, empty name
            full_atom("hdlr", 0, 0, cat({words({0, handler, 0, 0, 0}), Bytes(1, 0)})),
            atom("minf", atom("stbl", stbl_children)),
        })),
    }));
}

// track_ID, description index, duration, size, flags
Bytes trex(uint32_t id, uint32_t description, uint32_t duration, uint32_t size, uint32_t flags) {
    return full_atom("trex", 0, 0, words({id, description, duration, size, flags}));
}

qt_moov_info movie_of(std::initializer_list<Bytes> children) {
    const Bytes body = cat(children);
    qt_moov_info movie;
    movie.parse_atom_data(body.data(), body.size());
    return movie;
}

// ---- The fragments ----

// `optional`: the optional fields that the flags announce, in their order.
Bytes tfhd(uint32_t flags, uint32_t track_id, const Bytes& optional = {}) {
    return full_atom("tfhd", 0, flags, cat({words({track_id}), optional}));
}

Bytes tfdt(uint64_t decode_time) { return full_atom("tfdt", 1, 0, u64(decode_time)); }

// `fields`: data offset and first-sample flags when flagged, then the
// flagged per-sample fields of each sample.
Bytes trun(uint32_t flags, uint32_t sample_count, const Bytes& fields = {}, uint8_t version = 0) {
    return full_atom("trun", version, flags, cat({words({sample_count}), fields}));
}

Bytes traf(std::initializer_list<Bytes> children) { return atom("traf", cat(children)); }

Bytes moof(std::initializer_list<Bytes> trafs) {
    return cat({full_atom("mfhd", 0, 0, words({1})), cat(trafs)});  // sequence number 1
}

MergeReport merge(qt_moov_info& movie, const Bytes& moof_body, uint64_t moof_offset,
                  uint64_t file_end = UINT64_MAX) {
    return append_from_moof_atom(movie, moof_body.data(), moof_body.size(), moof_offset, file_end);
}

// ---- Views of a track's tables ----

using Runs = std::vector<std::pair<uint32_t, int64_t>>;
using Chunks = std::vector<std::array<uint32_t, 3>>;

Runs stts(const qt_track_info& t) {
    Runs out;
    for (const auto& r : t.stbl().stts.tbl) out.emplace_back(r.count, r.duration);
    return out;
}

Runs ctts(const qt_track_info& t) {
    Runs out;
    for (const auto& r : t.stbl().ctts.tbl) out.emplace_back(r.count, r.offset);
    return out;
}

std::vector<uint32_t> durations(const qt_track_info& t) {
    std::vector<uint32_t> out;
    for (const auto& r : t.stbl().stts.tbl) out.insert(out.end(), r.count, r.duration);
    return out;
}

std::vector<uint32_t> sizes(const qt_track_info& t) {
    const qt_stsz_info& s = t.stbl().stsz;
    if (s.sample_size != 0) return std::vector<uint32_t>(s.constant_count, s.sample_size);
    return s.tbl;
}

Chunks stsc(const qt_track_info& t) {
    Chunks out;
    for (const auto& r : t.stbl().stsc.tbl)
        out.push_back({r.first_chunk, r.samples_per_chunk, r.sample_description_index});
    return out;
}

std::vector<uint64_t> chunk_offsets(const qt_track_info& t) { return t.stbl().stco.tbl; }

// ---- Sample values: the run's own, else the tfhd default, else trex ----

TEST(Merger, SampleValuesComeFromTheRunTheTfhdOrTheTrex) {
    // trex of track 1: duration 11, size 22, flags depends-on-others (sdtp 0x10).
    // tfhd defaults: duration 33, size 44, flags depends-on-none (sdtp 0x20).
    // Own flags 0x00400000 / 0x00800000 (sdtp 0x04 / 0x08); first-sample
    // flags 0x04000000 (sdtp 0x40).
    const Bytes kTfhdDefaults = words({33, 44, 0x02000000});
    struct Row {
        const char* name;
        uint32_t track_id;
        uint32_t tf_flags;
        Bytes tfhd_fields;
        uint32_t tr_flags, count;
        Bytes trun_fields;
        std::vector<uint32_t> durations, sizes;
        Bytes flags;  // as sdtp bytes
    };
    const Row rows[] = {
        {"own values over every default", 1, 0x020038, kTfhdDefaults,
         0x000700, 2, words({55, 66, 0x00400000, 56, 67, 0x00800000}),
         {55, 56}, {66, 67}, {0x04, 0x08}},
        {"tfhd defaults", 1, 0x020038, kTfhdDefaults, 0, 2, {},
         {33, 33}, {44, 44}, {0x20, 0x20}},
        {"trex defaults", 1, 0x020000, {}, 0, 2, {},
         {11, 11}, {22, 22}, {0x10, 0x10}},
        {"a tfhd default of 0 is used when its bit is set", 1, 0x020038, words({0, 0, 0}), 0, 2, {},
         {0, 0}, {0, 0}, {0x00, 0x00}},
        {"each value on its own: duration from tfhd, size from the run, flags from trex",
         1, 0x020008, words({33}), 0x000200, 2, words({70, 71}),
         {33, 33}, {70, 71}, {0x10, 0x10}},
        {"first-sample flags, the rest from tfhd", 1, 0x020038, kTfhdDefaults,
         0x000205, 3, words({0, 0x04000000, 70, 71, 72}),  // data offset 0, first flags, sizes
         {33, 33, 33}, {70, 71, 72}, {0x40, 0x20, 0x20}},
        {"first-sample flags over the first sample's own", 1, 0x020000, {},
         0x000404, 2, words({0x04000000, 0x00400000, 0x00800000}),
         {11, 11}, {22, 22}, {0x40, 0x08}},
        {"first-sample flags in a run without per-sample fields", 1, 0x020000, {},
         0x000004, 3, words({0x04000000}),
         {11, 11, 11}, {22, 22, 22}, {0x40, 0x10, 0x10}},
        {"no trex for the track: zeros", 2, 0x020000, {}, 0, 2, {},
         {0, 0}, {0, 0}, {0x00, 0x00}},
    };
    for (const Row& row : rows) {
        qt_moov_info movie = movie_of({
            trak(1, kVide, cat({kNoSamples, kEmptySdtp})),
            trak(2, kVide, cat({kNoSamples, kEmptySdtp})),
            atom("mvex", trex(1, 1, 11, 22, 0x01000000)),
        });
        merge(movie, moof({traf({tfhd(row.tf_flags, row.track_id, row.tfhd_fields),
                                 trun(row.tr_flags, row.count, row.trun_fields)})}),
              0);
        const qt_track_info& t = movie.tracks[row.track_id - 1];
        EXPECT_EQ(durations(t), row.durations) << row.name;
        EXPECT_EQ(sizes(t), row.sizes) << row.name;
        EXPECT_EQ(t.stbl().sdtp.tbl, row.flags) << row.name;
        EXPECT_EQ(stsc(t), (Chunks{{1, row.count, 1}})) << row.name;
    }
}

// ---- Where each run's data lies ----

TEST(Merger, ChunkOffsetsFollowTheBaseDataOffsetRules) {
    // moof at 5000; track 1's traf holds one sample of 100 bytes, track 2's
    // one of 50.
    constexpr uint64_t kMoof = 5000;
    struct Row {
        const char* name;
        Bytes traf1, traf2;
        uint64_t chunk1, chunk2;
    };
    const Row rows[] = {
        {"base-data-offset, then the end of the previous traf's data",
         traf({tfhd(0x000001, 1, u64(1000)), trun(0x201, 1, words({0xFFFFFFF8, 100}))}),  // offset -8
         traf({tfhd(0, 2), trun(0x200, 1, words({50}))}),
         992, 1092},
        {"default-base-is-moof in both",
         traf({tfhd(0x020000, 1), trun(0x201, 1, words({120, 100}))}),
         traf({tfhd(0x020000, 2), trun(0x201, 1, words({300, 50}))}),
         5120, 5300},
        {"implicit: the moof start, then the end of the previous traf's data",
         traf({tfhd(0, 1), trun(0x201, 1, words({120, 100}))}),
         traf({tfhd(0, 2), trun(0x201, 1, words({16, 50}))}),
         5120, 5236},
        {"implicit without data offsets",
         traf({tfhd(0, 1), trun(0x200, 1, words({100}))}),
         traf({tfhd(0, 2), trun(0x200, 1, words({50}))}),
         5000, 5100},
        {"base-data-offset wins over default-base-is-moof",
         traf({tfhd(0x020001, 1, u64(7000)), trun(0x201, 1, words({8, 100}))}),
         traf({tfhd(0, 2), trun(0x200, 1, words({50}))}),
         7008, 7108},
        {"a base-data-offset after an implicit traf",
         traf({tfhd(0, 1), trun(0x201, 1, words({120, 100}))}),
         traf({tfhd(0x000001, 2, u64(0x100000000)), trun(0x200, 1, words({50}))}),
         5120, 0x100000000},
    };
    for (const Row& row : rows) {
        qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples), trak(2, kSoun, kNoSamples)});
        merge(movie, moof({row.traf1, row.traf2}), kMoof);
        EXPECT_EQ(chunk_offsets(movie.tracks[0]), std::vector<uint64_t>{row.chunk1}) << row.name;
        EXPECT_EQ(chunk_offsets(movie.tracks[1]), std::vector<uint64_t>{row.chunk2}) << row.name;
    }
}

TEST(Merger, EveryRunWithSamplesIsAChunkOfItsOwn) {
    qt_moov_info movie = movie_of({
        trak(1, kVide, kNoSamples),
        atom("mvex", trex(1, 1, 0, 0, kNonSyncFf)),
    });
    merge(movie,
          moof({
              traf({tfhd(0x020008, 1, words({500})),        // moof-based, default duration 500
                    // data offset 200, first-sample flags; durations and sizes
                    trun(0x000305, 2, words({200, kSyncFf, 400, 10, 400, 20})),
                    // no data offset: right after the run before; first-sample flags; sizes
                    trun(0x000204, 2, words({kSyncFf, 30, 40})),
                    trun(0x000000, 0),                       // no samples: no chunk
                    // data offset 1000; no first-sample flags of its own
                    trun(0x000201, 1, words({1000, 50})),
                    trun(0x000200, 1, words({60}))}),        // continues at 1050
              traf({tfhd(0x020000, 1)}),                     // no run: no chunk
          }),
          10000);
    const qt_track_info& t = movie.tracks[0];
    EXPECT_EQ(chunk_offsets(t), (std::vector<uint64_t>{10200, 10230, 11000, 11050}));
    EXPECT_EQ(stsc(t), (Chunks{{1, 2, 1}, {3, 1, 1}}));
    EXPECT_EQ(stts(t), (Runs{{2, 400}, {4, 500}}));
    EXPECT_EQ(sizes(t), (std::vector<uint32_t>{10, 20, 30, 40, 50, 60}));
    EXPECT_TRUE(t.stbl().stss.present);
    EXPECT_EQ(t.stbl().stss.tbl, (std::vector<uint32_t>{1, 3}));
}

// ---- The decode timeline ----

TEST(Merger, DecodeTimesFollowEveryTfdt) {
    qt_moov_info movie = movie_of({
        trak(1, kVide, kNoSamples),
        atom("mvex", trex(1, 1, 1000, 1, 0)),   // 1000 ticks, 1 byte each
    });
    struct Step {
        const char* name;
        int64_t decode_time;  // -1: no tfdt
        uint32_t samples;
        Runs stts;
    };
    const Runs kBefore = {{4, 1000}, {1, 1500}, {1, 499}, {1, 1}, {2, 1}};
    auto then = [&](Runs tail) {
        Runs r = kBefore;
        r.insert(r.end(), tail.begin(), tail.end());
        return r;
    };
    const Step steps[] = {
        {"first fragment far from 0: no leading gap", 900000, 3, {{3, 1000}}},
        {"continuous", 903000, 2, {{5, 1000}}},
        {"gap of 500: the last sample stretches", 905500, 2, {{4, 1000}, {1, 1500}, {2, 1000}}},
        // The last fragment's two samples can give 999 each.
        {"earlier by 1500: the last sample gives 999, the one before it 501", 906000, 2,
         {{4, 1000}, {1, 1500}, {1, 499}, {1, 1}, {2, 1000}}},
        {"earlier by 1998, all that they can give: both down to 1 tick", 906002, 1, then({{1, 1000}})},
        {"earlier by 1000, more than it can give: left as it is", 906002, 1, then({{2, 1000}})},
        {"no tfdt", -1, 1, then({{3, 1000}})},
        {"a fragment without samples", 909002, 0, then({{3, 1000}})},
        {"earlier by 1 after it: nothing of its own to give, left", 909001, 1, then({{4, 1000}})},
        {"tfdt 0: a jump back, left", 0, 1, then({{5, 1000}})},
        // 900000 + 11002 merged so far; 500 more
        {"second gap, measured from the first decode time", 911502, 1, then({{4, 1000}, {1, 1500}, {1, 1000}})},
    };
    uint64_t at = 100;
    for (const Step& s : steps) {
        const Bytes t = s.decode_time < 0
                            ? traf({tfhd(0x020000, 1), trun(0, s.samples)})
                            : traf({tfhd(0x020000, 1), tfdt(static_cast<uint64_t>(s.decode_time)),
                                    trun(0, s.samples)});
        merge(movie, moof({t}), at);
        at += 1000;
        EXPECT_EQ(stts(movie.tracks[0]), s.stts) << s.name;
    }
}

// ---- Composition offsets ----

TEST(Merger, NegativeCompositionOffsetsWriteAVersion1Ctts) {
    qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples)});
    // version 1 run: data offset 0x70, then duration, size, flags, offset per sample
    merge(movie,
          moof({traf({tfhd(0x020000, 1), tfdt(0),
                      trun(0x000F01, 3,
                           words({0x70,
                                  1000, 10, kSyncFf, 0xFFFFFC18,      // offset -1000
                                  1000, 11, kNonSyncFf, 2000,
                                  1000, 12, kNonSyncFf, 0}),
                           1)})}),
          0x2000);
    const qt_track_info& t = movie.tracks[0];
    EXPECT_EQ(ctts(t), (Runs{{1, -1000}, {1, 2000}, {1, 0}}));
    EXPECT_EQ(to_hex(atom_bytes::written(t.stbl())), to_hex(hex(
        "000000BC 7374626C"                          // stbl, 188
        "00000010 73747364 00000000 00000000"        // stsd as read
        "00000018 73747473 00 000000 00000001"       // stts, 1 run
        "00000003 000003E8"                          //   3 x 1000
        "00000014 73747373 00 000000 00000001"       // stss, 1 entry
        "00000001"                                   //   sample 1
        "00000028 63747473 01 000000 00000003"       // ctts version 1, 3 runs
        "00000001 FFFFFC18"                          //   1 x -1000
        "00000001 000007D0"                          //   1 x 2000
        "00000001 00000000"                          //   1 x 0
        "0000001C 73747363 00 000000 00000001"       // stsc, 1 run
        "00000001 00000003 00000001"                 //   from chunk 1: 3 samples, description 1
        "00000020 7374737A 00 000000"                // stsz
        "00000000 00000003"                          //   per-sample, 3 samples
        "0000000A 0000000B 0000000C"                 //   10, 11, 12
        "00000014 7374636F 00 000000 00000001"       // stco, 1 chunk
        "00002070")));                               //   0x2000 + 0x70
}

TEST(Merger, OffsetsThatAreAllZeroWriteNoCtts) {
    qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples)});
    merge(movie, moof({traf({tfhd(0x020000, 1), trun(0x000800, 3, words({0, 0, 0}))})}), 0);
    EXPECT_EQ(ctts(movie.tracks[0]), (Runs{{3, 0}}));
    EXPECT_TRUE(atom_bytes::written(movie.tracks[0].stbl().ctts).empty());
}

// ---- Sync samples ----

TEST(Merger, SyncSamplesFromEitherFlagConventionOnEveryTrack) {
    struct Row {
        const char* name;
        uint32_t handler;
        std::vector<uint32_t> flags;
        bool stss;
        std::vector<uint32_t> sync;
    };
    const Row rows[] = {
        {"ffmpeg's flags", kVide, {kSyncFf, kNonSyncFf, kNonSyncFf, kSyncFf}, true, {1, 4}},
        {"only the non-sync bit", kVide, {0, kNonSyncBit, 0x000100C0, 0}, true, {1, 4}},
        {"all sync (ffmpeg): no table", kVide, {kSyncFf, kSyncFf, kSyncFf}, false, {}},
        {"all sync (flags 0): no table", kVide, {0, 0, 0}, false, {}},
        {"depends on others without the non-sync bit", kVide, {0, 0x01000000}, true, {1}},
        {"non-sync bit with depends-on-none", kVide, {kSyncFf, 0x02010000}, true, {1}},
        {"first sample non-sync", kVide, {kNonSyncBit, 0}, true, {2}},
        {"audio with non-sync flags", kSoun, {0, kNonSyncBit, 0}, true, {1, 3}},
        {"audio all sync", kSoun, {kSyncFf, kSyncFf}, false, {}},
    };
    for (const Row& row : rows) {
        qt_moov_info movie = movie_of({trak(1, row.handler, kNoSamples)});
        Bytes flags;
        for (uint32_t f : row.flags) flags = cat({flags, words({f})});
        merge(movie,
              moof({traf({tfhd(0x020000, 1),
                          trun(0x000400, static_cast<uint32_t>(row.flags.size()), flags)})}),
              0);
        const qt_stss_info& stss = movie.tracks[0].stbl().stss;
        EXPECT_EQ(stss.present, row.stss) << row.name;
        EXPECT_EQ(stss.tbl, row.sync) << row.name;
        EXPECT_EQ(atom_bytes::written(stss).empty(), !row.stss) << row.name;
    }
}

// ---- Sample description index ----

TEST(Merger, ChunksCarryTheFragmentsSampleDescriptionIndex) {
    qt_moov_info movie = movie_of({
        trak(1, kVide, kNoSamples),
        trak(2, kSoun, kNoSamples),
        atom("mvex", cat({trex(1, 0, 0, 0, 0), trex(2, 2, 0, 0, 0)})),
    });
    const Bytes one_sample = trun(0x000200, 1, words({10}));
    merge(movie,
          moof({
              traf({tfhd(0x020002, 1, words({2})), one_sample}),  // tfhd index 2
              traf({tfhd(0x020002, 1, words({2})), one_sample}),  // same: no new stsc run
              traf({tfhd(0x020000, 1), one_sample}),              // trex index 0 means 1
              traf({tfhd(0x020002, 1, words({0})), one_sample}),  // tfhd index 0 means 1
              traf({tfhd(0x020000, 2), one_sample}),              // trex index 2
              traf({tfhd(0x020002, 2, words({3})), one_sample}),  // tfhd over trex
          }),
          0);
    EXPECT_EQ(stsc(movie.tracks[0]), (Chunks{{1, 1, 2}, {3, 1, 1}}));
    EXPECT_EQ(stsc(movie.tracks[1]), (Chunks{{1, 1, 2}, {2, 1, 3}}));
}

// ---- Track lookup ----

TEST(Merger, UnknownTrackIsCountedAndOnlyTheNamedTrackChanges) {
    qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples), trak(2, kSoun, kNoSamples)});
    const MergeReport report = merge(
        movie,
        moof({
            // data offset 50, sizes 100 and 200: its data ends at moof + 350
            traf({tfhd(0, 9), trun(0x000201, 2, words({50, 100, 200}))}),
            traf({tfhd(0, 2), trun(0x000200, 1, words({10}))}),
        }),
        3000);
    EXPECT_EQ(report.unlocated_trafs, 1u);
    EXPECT_EQ(report.samples_left_out, 0u);
    const qt_track_info& one = movie.tracks[0];
    EXPECT_TRUE(stts(one).empty());
    EXPECT_TRUE(sizes(one).empty());
    EXPECT_TRUE(stsc(one).empty());
    EXPECT_TRUE(chunk_offsets(one).empty());
    const qt_track_info& two = movie.tracks[1];
    EXPECT_EQ(chunk_offsets(two), std::vector<uint64_t>{3350});
    EXPECT_EQ(sizes(two), std::vector<uint32_t>{10});
}

// ---- The end of the file ----

TEST(Merger, RunWithoutPerSampleFieldsIsCappedAtTheEndOfTheFile) {
    qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples)});
    // base 1000; defaults: duration 10, size 1000, flags non-sync
    const Bytes header = tfhd(0x000039, 1, cat({u64(1000), words({10, 1000, kNonSyncFf})}));
    const MergeReport report =
        merge(movie, moof({traf({header, trun(0x000004, 0xFFFFFFFF, words({kSyncFf}))})}), 0, 5500);
    const qt_track_info& t = movie.tracks[0];
    EXPECT_EQ(report.samples_left_out, 0xFFFFFFFFu - 4);
    EXPECT_EQ(stts(t), (Runs{{4, 10}}));
    EXPECT_EQ(sizes(t), (std::vector<uint32_t>{1000, 1000, 1000, 1000}));
    EXPECT_EQ(stsc(t), (Chunks{{1, 4, 1}}));
    EXPECT_EQ(chunk_offsets(t), std::vector<uint64_t>{1000});
    EXPECT_EQ(t.stbl().stss.tbl, std::vector<uint32_t>{1});
}

TEST(Merger, RunsWithoutPerSampleFieldsShareTheFilesBytesAcrossMoofs) {
    qt_moov_info movie = movie_of({trak(1, kSoun, kNoSamples)});
    // base 1000; defaults: duration 10, size 100; runs that all claim the
    // same bytes, in two moofs
    const Bytes sized = tfhd(0x000019, 1, cat({u64(1000), words({10, 100})}));
    MergeBounds bounds{5000, 5000};
    const Bytes body = moof({traf({sized, trun(0, 30), trun(0x000001, 30, words({0}))})});
    MergeReport first = append_from_moof_atom(movie, body.data(), body.size(), 0, bounds);
    MergeReport second = append_from_moof_atom(movie, body.data(), body.size(), 0, bounds);
    // 5000 bytes hold 50 samples of 100 in all, whatever the runs declare.
    EXPECT_EQ(movie.tracks[0].sumSampleCounts(), 50u);
    EXPECT_EQ(first.samples_left_out + second.samples_left_out, 4 * 30u - 50);

    // A run never reaches into the next moof: 1000..3000 holds 20 samples.
    qt_moov_info cut = movie_of({trak(1, kSoun, kNoSamples)});
    const std::vector<uint64_t> moofs = {0, 3000};
    MergeBounds before_next{5000, 5000};
    before_next.moof_starts = &moofs;
    const Bytes endless = moof({traf({sized, trun(0, 0xFFFFFFFF)})});
    append_from_moof_atom(cut, endless.data(), endless.size(), 0, before_next);
    EXPECT_EQ(cut.tracks[0].sumSampleCounts(), 20u);

    // Samples of no bytes: no more per moof than the moof has bytes.
    qt_moov_info empty = movie_of({trak(1, kSoun, kNoSamples)});
    const Bytes sizeless = tfhd(0x000019, 1, cat({u64(1000), words({10, 0})}));
    const Bytes runs = moof({traf({sizeless, trun(0, 0xFFFFFFFF), trun(0, 0xFFFFFFFF)})});
    MergeBounds wide{UINT64_MAX, UINT64_MAX};
    append_from_moof_atom(empty, runs.data(), runs.size(), 0, wide);
    EXPECT_EQ(empty.tracks[0].sumSampleCounts(), runs.size());
}

TEST(Merger, SamplesPastTheEndOfTheFileAreLeftOut) {
    qt_moov_info movie = movie_of({trak(1, kVide, kNoSamples), trak(2, kSoun, kNoSamples)});
    const MergeReport report = merge(
        movie,
        moof({
            // 1000..1100, 1100..1200 (ends at the end of the file), 1200..1300
            traf({tfhd(0x000001, 1, u64(1000)), trun(0x000200, 3, words({100, 100, 100}))}),
            traf({tfhd(0x000001, 2, u64(1300)), trun(0x000200, 2, words({10, 10}))}),
        }),
        0, 1200);
    EXPECT_EQ(report.samples_left_out, 3u);
    EXPECT_EQ(sizes(movie.tracks[0]), (std::vector<uint32_t>{100, 100}));
    EXPECT_EQ(stsc(movie.tracks[0]), (Chunks{{1, 2, 1}}));
    EXPECT_TRUE(sizes(movie.tracks[1]).empty());
    EXPECT_TRUE(chunk_offsets(movie.tracks[1]).empty());
    EXPECT_TRUE(stsc(movie.tracks[1]).empty());

    // Samples a run declares beyond its box: 5 declared, 2 held; 3 declared
    // by a run whose box ends inside its data offset.
    qt_moov_info declared = movie_of({trak(1, kSoun, kNoSamples)});
    const MergeReport beyond = merge(
        declared,
        moof({traf({tfhd(0x000001, 1, u64(1000)), trun(0x000200, 5, words({10, 10})), trun(0x000001, 3, hex("0000"))})}),
        0, 5000);
    EXPECT_EQ(beyond.samples_left_out, 3u + 3u);
    EXPECT_EQ(sizes(declared.tracks[0]), (std::vector<uint32_t>{10, 10}));
    EXPECT_EQ(stsc(declared.tracks[0]), (Chunks{{1, 2, 1}}));
}

// Sample and chunk numbers are 32-bit in the tables: a track stops at
// 2^32 - 1 samples and says so, rather than wrap.
TEST(Merger, ATrackTakesNoMoreThan2e32Minus1Samples) {
    const Bytes nearly_full = hex(
        "00000010 73747364 00000000 00000000"                // stsd, 0 entries
        "00000018 73747473 00000000 00000001"                // stts, 1 run
        "FFFFFFFE 000003E8"                                  //   2^32 - 2 x 1000
        "0000001C 73747363 00000000 00000001"                // stsc, 1 run
        "00000001 FFFFFFFE 00000001"                         //   chunk 1: all of them
        "00000014 7374737A 00000000 00000064 FFFFFFFE"       // stsz: 2^32 - 2 x 100 bytes
        "00000014 7374636F 00000000 00000001 00000030");     // stco: 0x30
    // Three samples of 1000 ticks and 100 bytes at the moof, with and
    // without per-sample fields.
    const Bytes defaults = tfhd(0x020018, 1, words({1000, 100}));
    for (const Bytes& run : {trun(0, 3), trun(0x000200, 3, words({100, 100, 100}))}) {
        qt_moov_info movie = movie_of({trak(1, kSoun, nearly_full)});
        const MergeReport report = merge(movie, moof({traf({defaults, run})}), 0, 1 << 20);
        const qt_track_info& t = movie.tracks[0];
        EXPECT_TRUE(report.too_many_samples);
        EXPECT_EQ(t.sumSampleCounts(), 0xFFFFFFFFu);
        EXPECT_EQ(t.stbl().stsz.constant_count, 0xFFFFFFFFu);
        EXPECT_EQ(stsc(t), (Chunks{{1, 0xFFFFFFFE, 1}, {2, 1, 1}}));
    }
}

// ---- What a traf says beside its runs ----

// A protected sample description: encv with sinf (frma, schm 'cenc', schi
// with tenc: 8-byte IVs).
const Bytes kStsdEncv = hex(
    "00000070 73747364 00 000000 00000001"       // stsd, 1 entry
    "00000060 656E6376 000000000000 0001"        //   encv, data_reference_index 1
    "00000050 73696E66"                          //     sinf
    "0000000C 66726D61 61766331"                 //       frma 'avc1'
    "00000014 7363686D 00 000000 63656E63 00010000"  //   schm 'cenc' 1.0
    "00000028 73636869"                          //       schi
    "00000020 74656E63 00 000000 0000 01 08"     //         tenc: protected, IV 8 bytes
    "A7E61C373E219033C21091FA607BF3B8");         //           KID

std::vector<uint32_t> aux_sizes(const qt_track_info& t) {
    std::vector<uint32_t> out;
    const qt_saiz_info& saiz = t.stbl().saiz.at(0);
    for (uint64_t i = 0; i < saiz.sample_count(); ++i) out.push_back(saiz.size_of(i));
    return out;
}

TEST(Merger, AuxiliaryInformationPointsAtItsBytesWhereTheyLie) {
    // moof at 0x1000; two runs (2 samples of 10 and 20 bytes at 0x1100, then
    // one of 30): two chunks. The body: mfhd (16), the traf's header (8),
    // tfhd (16), then the box before the runs.
    const Bytes runs = cat({trun(0x000201, 2, words({0x100, 10, 20})), trun(0x000200, 1, words({30}))});
    const Bytes tfhd_moof = tfhd(0x020000, 1);
    const Bytes iv = hex("0102030405060708");
    const Bytes senc = full_atom("senc", 0, 2, cat({words({3}), iv, hex("0000"), iv, hex("0001 0005 00000005"),
                                                    iv, hex("0000")}));  // sizes 10, 16, 10
    const Bytes piff = atom("uuid", cat({hex("A2394F525A9B4F14A2446C427C648DF4"),   // PIFF sample encryption
                                         hex("00 000001 000001 10"), Bytes(16, 0),  // IV size 16, KID
                                         words({3}), Bytes(48, 0xEE)}));
    auto saiz = [](const Bytes& sizes) {
        return full_atom("saiz", 0, 0, cat({Bytes{0}, words({static_cast<uint32_t>(sizes.size())}), sizes}));
    };
    struct Row {
        const char* name;
        Bytes aux;
        unsigned header;
        uint64_t file_end;
        std::vector<uint32_t> sizes;
        std::vector<uint64_t> offsets;
    };
    const Row rows[] = {
        {"one saio offset: the second run's after the first run's sizes",
         cat({saiz({8, 14, 8}), full_atom("saio", 0, 0, words({1, 0x30}))}), 8, UINT64_MAX,
         {8, 14, 8}, {0x1030, 0x1046}},
        {"a saio offset per run", cat({saiz({8, 14, 8}), full_atom("saio", 0, 0, words({2, 0x30, 0x80}))}), 8,
         UINT64_MAX, {8, 14, 8}, {0x1030, 0x1080}},
        {"senc alone: IV size from tenc, entries at moof body + 56", senc, 8, UINT64_MAX,
         {10, 16, 10}, {0x1040, 0x105A}},
        {"a 16-byte moof header moves them", senc, 16, UINT64_MAX, {10, 16, 10}, {0x1048, 0x1062}},
        {"PIFF's box with its own IV size, entries at moof body + 92", piff, 8, UINT64_MAX,
         {16, 16, 16}, {0x1064, 0x1084}},
        {"the sample past the end of the file leaves nothing",
         cat({saiz({8, 14, 8}), full_atom("saio", 0, 0, words({1, 0x30}))}), 8, 0x111E, {8, 14}, {0x1030}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        qt_moov_info movie = movie_of({trak(1, kVide, cat({kStsdEncv, Bytes(kNoSamples.begin() + 16,
                                                                              kNoSamples.end())}))});
        MergeBounds bounds{row.file_end, row.file_end};
        const Bytes body = moof({traf({tfhd_moof, row.aux, runs})});
        append_from_moof_atom(movie, body.data(), body.size(), 0x1000, bounds, row.header);
        EXPECT_EQ(aux_sizes(movie.tracks[0]), row.sizes);
        EXPECT_EQ(movie.tracks[0].stbl().saio.at(0).offsets, row.offsets);

        // A later fragment without any: its samples and chunk get none.
        const Bytes clear = moof({traf({tfhd_moof, trun(0x000201, 1, words({0x100, 5}))})});
        MergeBounds wide{UINT64_MAX, UINT64_MAX};
        append_from_moof_atom(movie, clear.data(), clear.size(), 0x2000, wide);
        std::vector<uint32_t> sizes = row.sizes;
        sizes.push_back(0);
        std::vector<uint64_t> offsets = row.offsets;
        offsets.push_back(0);
        EXPECT_EQ(aux_sizes(movie.tracks[0]), sizes);
        EXPECT_EQ(movie.tracks[0].stbl().saio.at(0).offsets, offsets);
    }
}

TEST(Merger, GroupsSubsamplesAndDependenciesFollowTheKeptSamples) {
    // The movie describes one 'roll' group (distance -1) and has a pssh.
    const Bytes pssh_a = full_atom("pssh", 0, 0, cat({Bytes(16, 0xAA), words({0})}));
    const Bytes pssh_b = full_atom("pssh", 0, 0, cat({Bytes(16, 0xBB), words({0})}));
    qt_moov_info movie = movie_of({
        trak(1, kVide, cat({kNoSamples, full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000001 FFFF"))})),
        pssh_a,
    });
    // 10-byte samples; the first moof's own 'roll' entries are -2 and -1.
    const Bytes sized = tfhd(0x020010, 1, words({10}));
    const Bytes own_roll = full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000002 FFFE FFFF"));
    const Bytes first = moof({traf({
        sized, trun(0x000001, 4, words({0x100})),
        own_roll,
        // own entry 1, own entry 2, the movie's entry 1; the 4th sample: none
        full_atom("sbgp", 0, 0, hex("726F6C6C 00000003 00000001 00010001 00000001 00010002 00000001 00000001")),
        full_atom("subs", 0, 0, hex("00000002 00000002 0001 0005 00 00 00000000 00000002 0000")),  // samples 2, 4
        full_atom("sdtp", 0, 0, hex("20 10")),  // the first two samples only
    })});
    const Bytes second = moof({traf({
        sized, trun(0x000001, 2, words({0x100})),
        full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000001 FFFE")),
        full_atom("sbgp", 0, 0, hex("726F6C6C 00000001 00000002 00010001")),
        full_atom("subs", 0, 0, hex("00000001 00000001 0000")),  // its sample 1
    })});
    MergeBounds bounds{0x210A, 0x210A};  // the second moof's second sample lies past the end
    const Bytes with_pssh = cat({pssh_a, pssh_b, first});
    append_from_moof_atom(movie, with_pssh.data(), with_pssh.size(), 0x1000, bounds);
    const Bytes with_b = cat({pssh_b, second});
    append_from_moof_atom(movie, with_b.data(), with_b.size(), 0x2000, bounds);

    const qt_stbl_info& t = movie.tracks[0].stbl();
    ASSERT_EQ(t.sgpd.size(), 1u);
    EXPECT_EQ(t.sgpd[0].entries, (std::vector<Bytes>{{0xFF, 0xFF}, {0xFF, 0xFE}}));  // -2 appended once
    ASSERT_EQ(t.sbgp.size(), 1u);
    std::vector<std::pair<uint32_t, uint32_t>> groups;
    for (const auto& run : t.sbgp[0].tbl) groups.emplace_back(run.count, run.group_index);
    EXPECT_EQ(groups, (std::vector<std::pair<uint32_t, uint32_t>>{{1, 2}, {2, 1}, {1, 0}, {1, 2}}));
    ASSERT_EQ(t.subs.size(), 1u);
    std::vector<uint64_t> numbers;
    for (const auto& e : t.subs[0].entries) numbers.push_back(e.sample_number);
    EXPECT_EQ(numbers, (std::vector<uint64_t>{2, 4, 5}));
    EXPECT_EQ(t.subs[0].entries[0].subsamples.at(0).size, 5u);
    EXPECT_EQ(t.sdtp.tbl, (Bytes{0x20, 0x10, 0x00, 0x00, 0x00}));  // the rest from the sample flags
    ASSERT_EQ(movie.other_atoms.count(), 2u);  // each pssh once
    const Bytes out = atom_bytes::written(movie);  // the new one after the one the moov held, at its end
    EXPECT_EQ(to_hex(Bytes(out.end() - static_cast<std::ptrdiff_t>(pssh_a.size() + pssh_b.size()), out.end())),
              to_hex(cat({pssh_a, pssh_b})));
}

// ---- A movie that already holds samples ----

TEST(Merger, TablesOfAMovieWithSamplesAreContinued) {
    // Three samples of 1000 ticks in one chunk at 0x30, all sync (no stss),
    // no composition offsets, sdtp 'depends on none' for each.
    const Bytes stbl_children = hex(
        "00000010 73747364 00000000 00000000"                // stsd, 0 entries
        "00000018 73747473 00000000 00000001"                // stts, 1 run
        "00000003 000003E8"                                  //   3 x 1000
        "0000001C 73747363 00000000 00000001"                // stsc, 1 run
        "00000001 00000003 00000001"                         //   chunk 1: 3 samples
        "00000020 7374737A 00000000 00000000 00000003"       // stsz, per-sample, 3
        "000000C8 000000C9 000000CA"                         //   200, 201, 202
        "00000014 7374636F 00000000 00000001"                // stco, 1 chunk
        "00000030"                                           //   0x30
        "0000000F 73647470 00000000"                         // sdtp
        "20 20 20");                                         //   depends on none
    qt_moov_info movie = movie_of({trak(1, kVide, stbl_children)});
    // Decode time 3500: 500 after the 3000 the movie holds. Default duration
    // 1000; data offset 0x50, then size, flags and composition offset.
    merge(movie,
          moof({traf({tfhd(0x020008, 1, words({1000})), tfdt(3500),
                      trun(0x000E01, 2, words({0x50, 300, kSyncFf, 1000, 301, kNonSyncFf, 2000}))})}),
          0x1000);
    EXPECT_EQ(to_hex(atom_bytes::written(movie.tracks[0].stbl())), to_hex(hex(
        "00000101 7374626C"                                  // stbl, 257
        "00000010 73747364 00000000 00000000"                // stsd as read
        "00000028 73747473 00 000000 00000003"               // stts, 3 runs
        "00000002 000003E8"                                  //   2 x 1000
        "00000001 000005DC"                                  //   1 x 1500: the gap
        "00000002 000003E8"                                  //   2 x 1000
        "00000020 73747373 00 000000 00000004"               // stss, 4 entries
        "00000001 00000002 00000003 00000004"                //   all before sample 5
        "00000028 63747473 00 000000 00000003"               // ctts version 0, 3 runs
        "00000003 00000000"                                  //   the movie's samples: 0
        "00000001 000003E8"                                  //   1000
        "00000001 000007D0"                                  //   2000
        "00000028 73747363 00 000000 00000002"               // stsc, 2 runs
        "00000001 00000003 00000001"                         //   chunk 1: 3 samples
        "00000002 00000002 00000001"                         //   chunk 2 on: 2 samples
        "00000028 7374737A 00 000000"                        // stsz
        "00000000 00000005"                                  //   per-sample, 5
        "000000C8 000000C9 000000CA 0000012C 0000012D"       //   200 201 202 300 301
        "00000018 7374636F 00 000000 00000002"               // stco, 2 chunks
        "00000030 00001050"                                  //   0x30, 0x1000 + 0x50
        "00000011 73647470 00 000000"                        // sdtp
        "20 20 20 20 10")));                                 //   + none, others
}

TEST(Merger, ExistingSyncTableAndTrailingEmptyRunsAreContinued) {
    // stss {1} read from the movie: fragment sync samples are numbered on.
    const Bytes with_stss = hex(
        "00000010 73747364 00000000 00000000"                // stsd, 0 entries
        "00000018 73747473 00000000 00000001 00000003 000003E8"  // stts: 3 x 1000
        "00000014 73747373 00000000 00000001 00000001"       // stss: sample 1
        "0000001C 73747363 00000000 00000001 00000001 00000003 00000001"  // stsc
        "00000014 7374737A 00000000 00000064 00000003"       // stsz: 3 x 100 bytes
        "00000014 7374636F 00000000 00000001 00000030");     // stco: 0x30
    qt_moov_info movie = movie_of({trak(1, kSoun, with_stss)});
    merge(movie,
          moof({traf({tfhd(0x020018, 1, words({1000, 100})),   // duration 1000, size 100
                      trun(0x000400, 2, words({kSyncFf, kNonSyncFf}))})}),
          0x400);
    const qt_track_info& t = movie.tracks[0];
    EXPECT_EQ(t.stbl().stss.tbl, (std::vector<uint32_t>{1, 4}));
    EXPECT_EQ(t.stbl().stsz.sample_size, 100u);  // still one size for all
    EXPECT_EQ(t.stbl().stsz.constant_count, 5u);
    EXPECT_EQ(stsc(t), (Chunks{{1, 3, 1}, {2, 2, 1}}));
    EXPECT_EQ(chunk_offsets(t), (std::vector<uint64_t>{0x30, 0x400}));

    // stts ending in a run of 0 samples: the gap goes to the last real sample.
    const Bytes trailing_empty = hex(
        "00000010 73747364 00000000 00000000"                // stsd, 0 entries
        "00000020 73747473 00000000 00000002"                // stts, 2 runs
        "00000002 000003E8 00000000 000001F4"                //   2 x 1000, 0 x 500
        "0000001C 73747363 00000000 00000001 00000001 00000002 00000001"  // stsc
        "00000014 7374737A 00000000 00000064 00000002"       // stsz: 2 x 100 bytes
        "00000014 7374636F 00000000 00000001 00000030");     // stco: 0x30
    movie = movie_of({trak(1, kSoun, trailing_empty)});
    merge(movie, moof({traf({tfhd(0x020008, 1, words({1000})), tfdt(2500), trun(0, 1)})}), 0x400);
    EXPECT_EQ(stts(movie.tracks[0]), (Runs{{1, 1000}, {1, 1500}, {0, 500}, {1, 1000}}));
}

}  // namespace
