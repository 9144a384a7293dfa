// The fragment merger: tiny hand-built moofs merged, as the moofs of one
// file, into a movie parsed from a hand-written moov body. Each row states in
// one line what the tracks' tables hold afterwards and what the merge reported.
#include "fragments/merger.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "atoms/fourcc.h"
#include "tests/support/atom_bytes.h"

namespace {

using namespace atom_bytes;

// `optional`: the fields that the flags announce, in their order.
Bytes tfhd(uint32_t flags, uint32_t track_id, const Bytes& optional = {}) {
    return full_atom("tfhd", 0, flags, cat({words({track_id}), optional}));
}

// `fields`: the flagged data offset and first-sample flags, then the flagged
// fields of each sample.
Bytes trun(uint32_t flags, uint32_t sample_count, const Bytes& fields = {}, uint8_t version = 0) {
    return full_atom("trun", version, flags, cat({words({sample_count}), fields}));
}

Bytes traf(std::initializer_list<Bytes> children) { return atom("traf", cat(children)); }

// An mfhd, then the trafs.
Bytes moof(std::initializer_list<Bytes> trafs) { return cat({full_atom("mfhd", 0, 0, words({1})), cat(trafs)}); }

constexpr uint32_t kVide = fourcc("vide"), kSoun = fourcc("soun");
constexpr uint32_t kSync = 0x02000000, kNonSync = 0x01010000;  // as ffmpeg writes them

// tkhd (version 0, the ID), mdia with mdhd (timescale 1000), hdlr of the
// handler, and minf/stbl holding `stbl`.
Bytes trak(uint32_t id, uint32_t handler, const Bytes& stbl = {}) {
    return atom("trak", cat({full_atom("tkhd", 0, 3, cat({words({0, 0, id, 0, 0}), Bytes(60, 0)})),
                             atom("mdia", cat({full_atom("mdhd", 0, 0, words({0, 0, 1000, 0, 0x55C40000})),
                                               full_atom("hdlr", 0, 0, cat({words({0, handler, 0, 0, 0}), {0}})),
                                               atom("minf", atom("stbl", stbl))}))}));
}

// track_ID, sample description index, duration, size, flags
Bytes trex(std::initializer_list<uint32_t> fields) { return full_atom("trex", 0, 0, words(fields)); }

// Track 1 video with an empty sdtp, which shows the flags each sample gets,
// and trex defaults of 11 ticks, 22 bytes, depends-on-others (sdtp 10);
// track 2 audio without trex.
const Bytes kMovie = cat({trak(1, kVide, hex("0000000C 73647470 00000000")), trak(2, kSoun),
                          atom("mvex", trex({1, 1, 11, 22, 0x01000000}))});

struct Moof { uint64_t at; Bytes body; unsigned header = 8; };  // where, its body, its header's bytes

// `only`: the tables shown, all when null; `movie`: the moov's children.
struct Row {
    const char* name;
    std::vector<Moof> moofs;
    std::string expected;
    const char* only = nullptr;
    Bytes movie = kMovie;
    uint64_t file_end = UINT64_MAX;
};

// A track's tables in one line, each left out while empty (stss while
// absent): runs as count x value, stsz as sizes or count x size, stsc as
// first chunk:samples:description, sdtp, trik and sgpd entries in hex.
std::string tables_of(const qt_stbl_info& t, const char* only) {
    std::string out;
    auto list = [](const auto& items, auto put) {  // " " and each item as `put` writes it
        std::ostringstream o;
        for (const auto& item : items) put(o << ' ', item);
        return o.str();
    };
    auto show = [&](const char* name, bool shown, const std::string& text) {
        if (shown && (!only || std::strstr(only, name))) out += std::string(" ") + name + text;
    };
    auto number = [](std::ostream& o, uint64_t v) { o << v; };
    show("stts", !t.stts.tbl.empty(), list(t.stts.tbl, [](std::ostream& o, auto r) { o << r.count << 'x' << r.duration; }));
    const std::string constant = " " + std::to_string(t.stsz.constant_count) + "x" + std::to_string(t.stsz.sample_size);
    show("stsz", t.stsz.sample_count() != 0, (t.stsz.sample_size ? constant : "") + list(t.stsz.tbl, number));
    show("stsc", !t.stsc.tbl.empty(), list(t.stsc.tbl, [](std::ostream& o, auto r) {
             o << r.first_chunk << ':' << r.samples_per_chunk << ':' << r.sample_description_index;
         }));
    show("stco", !t.stco.tbl.empty(), list(t.stco.tbl, number));
    show("stss", t.stss.present, list(t.stss.tbl, number));
    show("ctts", !t.ctts.tbl.empty(), list(t.ctts.tbl, [](std::ostream& o, auto r) { o << r.count << 'x' << r.offset; }));
    show("sdtp", !t.sdtp.tbl.empty(), " " + to_hex(t.sdtp.tbl));
    show("trik", !t.trik.tbl.empty(), " " + to_hex(t.trik.tbl));
    for (const auto& s : t.saiz) show("saiz", true, list(s.tbl, number));
    for (const auto& s : t.saio) show("saio", true, list(s.offsets, number));
    Bytes senc;  // the copy of the encryption information, as written
    BeWriter w(senc);
    t.senc.write_into(w);
    show("senc", !senc.empty(), " " + std::to_string(senc.size()));
    for (const auto& s : t.sgpd) show("sgpd", true, list(s.entries, [](std::ostream& o, auto& e) { o << to_hex(e); }));
    for (const auto& s : t.sbgp)
        show("sbgp", true, list(s.tbl, [](std::ostream& o, auto r) { o << r.count << 'x' << r.group_index; }));
    for (const auto& s : t.subs) show("subs", true, list(s.entries, [](std::ostream& o, auto& e) { o << e.sample_number; }));
    return out;
}

// "#<track ID> <tables>" for each track that shows any (with "t0", where its
// decode timeline starts when not at 0), the sizes of the
// atoms the movie carries as they are (the pssh), then what each moof's
// report counts.
std::string merged(const Row& row) {
    qt_moov_info movie;
    movie.parse_atom_data(row.movie.data(), row.movie.size());
    std::vector<uint64_t> starts;
    for (const Moof& m : row.moofs) starts.push_back(m.at);
    MergeBounds bounds{row.file_end, row.file_end, UINT64_MAX, &starts};
    std::ostringstream o, report;
    for (const Moof& m : row.moofs) {
        const MergeReport r = append_from_moof_atom(movie, m.body.data(), m.body.size(), m.at, bounds, m.header);
        if (r.samples_left_out) report << " left " << r.samples_left_out;
        if (r.unlocated_trafs) report << " unlocated " << r.unlocated_trafs;
        if (r.too_many_samples) report << " full";
    }
    for (const qt_track_info& t : movie.tracks) {
        std::string tables = tables_of(t.stbl(), row.only);
        if (t.decode_start != 0 && row.only && std::strstr(row.only, "t0")) tables += " t0 " + std::to_string(t.decode_start);
        if (!tables.empty()) o << " #" << t.getTrackId() << tables;
    }
    for (size_t i = 0; i < movie.other_atoms.count(); ++i) o << " raw " << movie.other_atoms.at(i).size();
    return (o.str() + report.str()).erase(0, 1);
}

void check(const std::vector<Row>& rows) {
    for (const Row& row : rows) EXPECT_EQ(merged(row), row.expected) << row.name;
}

// One moof at `at` holding the trafs.
std::vector<Moof> at(uint64_t offset, std::initializer_list<Bytes> trafs) { return {{offset, moof(trafs)}}; }

// A moof at 1000 x `n` with a fragment of track 1: `samples` of 1000 ticks
// at decode time `decode`, without tfdt when negative; `more`: other boxes
// of the traf.
Moof timed(uint64_t n, int64_t decode, uint32_t samples, const Bytes& more = {}) {
    const Bytes tf = tfhd(0x020008, 1, words({1000})), run = trun(0, samples);
    return {1000 * n, moof({decode < 0 ? traf({tf, more, run}) : traf({tf, more, full_atom("tfdt", 1, 0, u64(decode)), run})})};
}
// Smooth Streaming's fragment time of that version, and a duration of 0.
Bytes tfxd(uint8_t version, uint64_t time) {
    return atom("uuid", cat({hex("6D1D9B05 42D544E6 80E2141D AFF757B2"),
                             version == 1 ? cat({words({0x01000000}), u64(time), u64(0)})
                                          : words({0, static_cast<uint32_t>(time), 0})}));
}

TEST(Merger, SamplesTheirChunksAndTimes) {
    const char* kValues = "stts stsz stss sdtp ctts";
    const Bytes one50 = trun(0x200, 1, words({50}));  // a sample of 50 bytes
    // Track 2 without trex: duration 10, size 100 from the tfhd; base 1000.
    const Bytes at1000 = tfhd(0x000019, 2, cat({u64(1000), words({10, 100})}));
    const Bytes halves = traf({at1000, trun(0, 30), trun(0x001, 30, words({0}))});  // the second one at 1000 too
    const Bytes movie = cat({  // with samples
        trak(1, kVide, hex("00000018 73747473 00000000 00000001 00000003 000003E8"           // stts: 3 x 1000
                           "0000001C 73747363 00000000 00000001 00000001 00000003 00000001"  // stsc: 3 in chunk 1
                           "00000020 7374737A 00000000 00000000 00000003 000000C8 000000C9 000000CA"  // 200 201 202
                           "00000014 7374636F 00000000 00000001 00000030"                    // stco: 0x30
                           "0000000F 73647470 00000000 202020"                               // sdtp: depends on none
                           "0000000F 7472696B 00000000 404080")),                            // trik: pic_type 1, 1, 2
        trak(2, kSoun, hex("00000018 73747473 00000000 00000001 FFFFFFFE 000003E8"           // stts: 2^32-2 x 1000
                           "0000001C 73747363 00000000 00000001 00000001 FFFFFFFE 00000001"  // stsc: all in chunk 1
                           "00000014 7374737A 00000000 00000064 FFFFFFFE"                    // 2^32-2 x 100 bytes
                           "00000014 7374636F 00000000 00000001 00000030"                    // stco: 0x30
                           "00000014 73747373 00000000 00000001 00000001"))});               // stss: sample 1
    const Bytes full2 = tfhd(0x020018, 2, words({1000, 100}));
    check({
        // Sample values: own flags 0x00400000 and 0x00800000 are sdtp 04 and 08,
        // first-sample flags 0x04000000 sdtp 40.
        {"own values over every default, first-sample flags over the first one's own; no trex: zeros",
         at(0, {traf({tfhd(0x020038, 1, words({33, 44, kSync})),
                      trun(0xF04, 2, words({0x04000000, 55, 66, 0x00400000, 0xFFFFFC18, 56, 67, 0x00800000, 2000}), 1)}),
                traf({tfhd(0x020000, 2), trun(0x800, 1, words({0xFFFFFFFF}))})}),
         "#1 stts 1x55 1x56 stsz 66 67 ctts 1x-1000 1x2000 sdtp 4008 #2 stts 1x0 stsz 0 ctts 1x-1", kValues},
        {"tfhd defaults of 0 are used when their bits are set; duration from the run, size from the tfhd, flags from the trex",
         at(0, {traf({tfhd(0x020038, 1, words({0, 0, 0})), trun(0, 2)}),
                traf({tfhd(0x020010, 1, words({44})), trun(0x100, 2, words({55, 56}))})}),
         "#1 stts 2x0 1x55 1x56 stsz 0 0 44 44 stss 1 2 ctts 4x0 sdtp 00001010", kValues},
        {"first-sample flags over the tfhd default, in a run without per-sample fields",
         at(0, {traf({tfhd(0x020020, 1, words({kNonSync})), trun(0x004, 3, words({0x04000000}))})}),
         "#1 stts 3x11 stsz 22 22 22 stss 1 ctts 3x0 sdtp 401010", kValues},
        // Sync: the non-sync bit clear and depends_on not 1, on every track;
        // all sync: no stss.
        {"sync samples",
         at(0, {traf({tfhd(0x020000, 1), trun(0x400, 6, words({kSync, kNonSync, 0, 0x00010000, 0x01000000, 0x02010000}))}),
                traf({tfhd(0x020000, 2), trun(0x400, 3, words({0x00010000, 0, kNonSync}))}),
                traf({tfhd(0x020000, 3), trun(0x400, 2, words({0, kSync}))})}),
         "#1 stss 1 3 #2 stss 2", "stss", cat({kMovie, trak(3, kSoun)})},
        // Chunks: track 1's traf holds a sample of 100 bytes, track 2's one of
        // 50. Every run its own chunk: durations and sizes, flags and sizes, no
        // samples (no chunk), with data offset, without; a traf with no run.
        {"a 64-bit base-data-offset over default-base-is-moof, then the end of the previous traf's data; then the moof",
         at(5000, {traf({tfhd(0x020001, 1, u64(0x100000000)), trun(0x201, 1, words({0xFFFFFFF8, 100}))}),
                   traf({tfhd(0, 2), one50}), traf({tfhd(0x020000, 2), trun(0x201, 1, words({300, 50}))})}),
         "#1 stco 4294967288 #2 stco 4294967388 5300", "stco"},
        {"implicit: the moof, then the end of the previous traf's data, of a track no track has too",
         at(5000, {traf({tfhd(0, 1), trun(0x201, 1, words({120, 100}))}), traf({tfhd(0, 9), trun(0x201, 2, words({16, 1, 2}))}),
                   traf({tfhd(0, 2), one50})}),
         "#1 stsz 100 stco 5120 #2 stsz 50 stco 5239 unlocated 1", "stsz stco"},
        {"every run its own chunk, one without data offset after the run before",
         at(10000, {traf({tfhd(0x020008, 1, words({500})), trun(0x305, 2, words({200, kSync, 400, 10, 400, 20})),
                          trun(0x204, 2, words({kSync, 30, 40})), trun(0, 0), trun(0x201, 1, words({1000, 50})),
                          trun(0x200, 1, words({60}))}), traf({tfhd(0x020000, 1)})}),
         "#1 stts 2x400 4x500 stsz 10 20 30 40 50 60 stsc 1:2:1 3:1:1 stco 10200 10230 11000 11050 stss 1 3",
         "stts stsz stsc stco stss"},
        {"the sample description index of the tfhd, else of the trex; 0 is 1",
         at(0, {traf({tfhd(0x020002, 1, words({2})), one50}), traf({tfhd(0x020002, 1, words({2})), one50}),
                traf({tfhd(0x020000, 1), one50}), traf({tfhd(0x020002, 1, words({0})), one50}),
                traf({tfhd(0x020000, 2), one50}), traf({tfhd(0x020002, 2, words({3})), one50})}),
         "#1 stsc 1:1:2 3:1:1 #2 stsc 1:1:2 2:1:3", "stsc",
         cat({trak(1, kVide), trak(2, kSoun), atom("mvex", cat({trex({1, 0, 0, 0, 0}), trex({2, 2, 0, 0, 0})}))})},
        // Decode times.
        {"the first decode time is the start; a gap stretches the last sample",
         {timed(1, 900000, 3), timed(2, 903000, 2), timed(3, 905500, 2)}, "#1 stts 4x1000 1x1500 2x1000", "stts"},
        {"an earlier decode time shortens the last fragment's samples, the last first",
         {timed(1, 900000, 3), timed(2, 903000, 2), timed(3, 903500, 1)}, "#1 stts 3x1000 1x499 1x1 1x1000", "stts"},
        {"down to 1 tick each; an overlap larger than that is left",
         {timed(1, 900000, 2), timed(2, 902000, 2), timed(3, 902002, 1), timed(4, 902002, 1)}, "#1 stts 2x1000 2x1 2x1000",
         "stts"},
        {"Smooth Streaming's tfxd when there is no tfdt, of either version: a gap kept; a tfdt over it",
         {timed(1, -1, 3, tfxd(1, 900000)), timed(2, -1, 2, tfxd(0, 905000)), timed(3, 908000, 1, tfxd(1, 907000))},
         "#1 stts 2x1000 1x3000 1x1000 1x2000 1x1000", "stts"},
        {"a first decode time stored as 2^64 - 500 is 500 before 0, as ffmpeg's Smooth Streaming writer stores audio"
         " priming",
         {timed(1, -1, 3, tfxd(1, ~uint64_t{499})), timed(2, -1, 1, tfxd(1, 2500)), timed(3, -1, 1, tfxd(1, 4000))},
         "#1 stts 3x1000 1x1500 1x1000 t0 -500", "stts t0"},
        {"no tfdt, an empty fragment, a jump back; gaps count from the first decode time",
         {timed(1, 900000, 2), timed(2, -1, 1), timed(3, 904000, 0), timed(4, 903999, 1), timed(5, 0, 1),
          timed(6, 907500, 1)},
         "#1 stts 2x1000 1x2000 1x1000 1x2500 1x1000", "stts"},
        // The moov's samples: track 1 holds 3000 ticks, so a decode time of
        // 3500 leaves a gap of 500; track 2 has room for one more sample.
        {"after the moov's samples; a track's last sample, the others left out",
         at(0x1000, {traf({tfhd(0x020008, 1, words({1000})), full_atom("tfdt", 1, 0, u64(3500)),
                           trun(0xE01, 2, words({0x50, 300, kSync, 1000, 301, kNonSync, 2000}))}),
                     traf({full2, trun(0x401, 2, words({0x300, kSync, kSync}))})}),
         "#1 stts 2x1000 1x1500 2x1000 stsz 200 201 202 300 301 stsc 1:3:1 2:2:1 stco 48 4176 stss 1 2 3 4"
         " ctts 3x0 1x1000 1x2000 sdtp 20202020 10 trik 40408000 00 #2 stts 4294967295x1000 stsz 4294967295x100 stsc 1:4294967294:1"
         " 2:1:1 stco 48 4864 stss 1 4294967295 ctts 4294967295x0 full",
         nullptr, movie},
        {"no more than 2^32 - 1 samples in a run without per-sample fields", at(0, {traf({full2, trun(0, 3)})}),
         "#1 stsc 1:3:1 #2 stsc 1:4294967294:1 2:1:1 left 2 full", "stsc", movie},
        // Samples left out.
        {"past the end of the file: that sample and every one after it",
         at(0, {traf({tfhd(0x000001, 1, u64(1000)), trun(0x200, 3, words({100, 100, 100}))}),
                traf({tfhd(0x000001, 2, u64(1300)), trun(0x200, 2, words({10, 10}))})}),
         "#1 stsz 100 100 stsc 1:2:1 left 3", "stsz stsc", kMovie, 1200},
        {"declared beyond the box, or in a run cut inside its data offset",
         at(0, {traf({at1000, trun(0x200, 5, words({10, 10})), trun(0x001, 3, hex("0000"))})}),
         "#2 stsz 10 10 stsc 1:2:1 left 6", "stsz stsc"},
        {"runs without per-sample fields share the file's bytes, across moofs: 5000 bytes hold 50",
         {{0, moof({halves})}, {10, moof({halves})}}, "#2 stsc 1:30:1 2:20:1 stco 1000 1000 left 10 left 60",
         "stsc stco", kMovie, 5000},
        {"a run without per-sample fields ends at the next moof",
         {{0, moof({traf({at1000, trun(0, 0xFFFFFFFF)})})}, {3000, moof({})}}, "#2 stsc 1:20:1 left 4294967275",
         "stsc", kMovie, 5000},
        {"samples of no bytes: no more in a moof than it has bytes (88)",
         at(0, {traf({tfhd(0x000019, 2, cat({u64(1000), words({10, 0})})), trun(0, 0xFFFFFFFF), trun(0, 0xFFFFFFFF)})}),
         "#2 stsc 1:88:1 left 8589934502", "stsc"},
    });
}

TEST(Merger, WhatATrafSaysBesideItsRunsFollowsTheKeptSamples) {
    const Bytes protected_entry = hex(                                             // a protected sample description:
        "000000B6 73747364 00000000 00000001 000000A6 656E6376 000000000000 0001"  // stsd, 1 entry: encv
        "0000 0000 00000000 00000000 00000000 0010 0010 00480000 00480000 00000000 0001"  // its visual fields:
        "00000000000000000000000000000000 00000000000000000000000000000000 0018 FFFF"     //   16 x 16, no name
        "00000050 73696E66 0000000C 66726D61 61766331"                             //   sinf: frma 'avc1'
        "00000014 7363686D 00000000 63656E63 00010000"                             //     schm 'cenc' 1.0
        "00000028 73636869 00000020 74656E63 00000000 0000 01 08 A7E61C373E219033C21091FA607BF3B8");  // tenc: IV 8, KID
    const Bytes encv = trak(1, kVide, protected_entry);
    // Two runs at 0x1100: 2 samples of 10 and 20 bytes, then one of 30; the
    // box before them comes after mfhd (16), the traf's header (8) and tfhd (16).
    const Bytes runs = cat({trun(0x201, 2, words({0x100, 10, 20})), trun(0x200, 1, words({30}))});
    const Bytes iv = hex("0102030405060708"), saiz = full_atom("saiz", 0, 0, cat({{0}, words({3}), {8, 14, 8}}));
    const Bytes senc = full_atom("senc", 0, 2, cat({words({3}), iv, hex("0000"), iv, hex("0001 0005 00000005"), iv,
                                                    hex("0000")}));  // 10, 16 and 10 bytes
    const Bytes piff = atom("uuid", cat({hex("A2394F525A9B4F14A2446C427C648DF4 00000001 000001 10"),  // IV size 16
                                         Bytes(16, 0), words({3}), Bytes(48, 0xEE)}));               // KID, 3 IVs
    // Then a moof without any (or, for a clear lead, first): its sample and chunk get none.
    auto aux = [&](const Bytes& box, unsigned header = 8, bool clear_lead = false) {
        const Moof clear{clear_lead ? 0x800u : 0x2000u,
                         moof({traf({tfhd(0x020000, 1), trun(0x201, 1, words({0x100, 5}))})})};
        std::vector<Moof> moofs{{0x1000, moof({traf({tfhd(0x020000, 1), box, runs})}), header}};
        moofs.insert(clear_lead ? moofs.begin() : moofs.end(), clear);
        return moofs;
    };
    const Bytes one_offset = cat({saiz, full_atom("saio", 0, 0, words({1, 0x30}))});
    // A movie whose three samples, one per chunk, have their information in
    // one piece at 0x500: 8, 14 and 8 bytes.
    const Bytes encrypted_samples = trak(1, kVide, cat({protected_entry, hex(
        "00000018 73747473 00000000 00000001 00000003 000003E8"                    // stts: 3 x 1000
        "0000001C 73747363 00000000 00000001 00000001 00000001 00000001"           // stsc: 1 per chunk
        "00000020 7374737A 00000000 00000000 00000003 0000000A 00000014 0000001E"  // stsz: 10 20 30
        "0000001C 7374636F 00000000 00000003 00000100 0000010A 0000011E"           // stco
        "00000014 7361697A 00000000 00 00000003 080E08 00000014 7361696F 00000000 00000001 00000500")}));
    // The moov describes one 'roll' group (distance -1) and has a pssh.
    const Bytes pssh_a = full_atom("pssh", 0, 0, cat({Bytes(16, 0xAA), words({0})}));
    const Bytes pssh_b = full_atom("pssh", 0, 0, cat({Bytes(16, 0xBB), words({4, 0})}));
    const Bytes groups = cat({trak(1, kVide, full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000001 FFFF"))), pssh_a});
    const Bytes sized = tfhd(0x020010, 1, words({10}));  // 10-byte samples
    const Bytes first = moof({traf({
        sized, trun(0x001, 4, words({0x100})), full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000002 FFFE FFFF")),
        // its own -2, its own -1, the moov's -1; the 4th sample: none
        full_atom("sbgp", 0, 0, hex("726F6C6C 00000003 00000001 00010001 00000001 00010002 00000001 00000001")),
        full_atom("subs", 0, 0, hex("00000002 00000002 0001 0005 00 00 00000000 00000002 0000")),  // samples 2, 4
        full_atom("sdtp", 0, 0, hex("20 10")),  // the first two samples
        full_atom("trik", 0, 0, hex("41 82 C3"))})});  // the first three: pic_type and level 1, 2, 3
    const Bytes second = moof({traf({
        sized, trun(0x001, 2, words({0x100})),  // the second sample lies past the end of the file
        full_atom("sgpd", 1, 0, hex("73656967 00000002 00000001 ABCD")),  // 'seig', which no sample names
        full_atom("sgpd", 1, 0, hex("726F6C6C 00000002 00000001 FFFE")),
        full_atom("sbgp", 0, 0, hex("726F6C6C 00000001 00000002 00010001")),
        full_atom("subs", 0, 0, hex("00000001 00000001 0000")), full_atom("sdtp", 0, 0, hex("20"))})});
    check({
        {"saio with one offset: a run's information after that of the runs before", aux(one_offset),
         "#1 saiz 8 14 8 0 saio 4144 4166 0", "saiz saio", encv},
        {"a clear lead: the samples before the first with information get none", aux(one_offset, 8, true),
         "#1 saiz 0 8 14 8 saio 0 4144 4166 senc 66", "saiz saio senc", encv},
        {"the movie's one offset for several chunks is split per chunk", aux(one_offset),
         "#1 saiz 8 14 8 8 14 8 0 saio 1280 1288 1302 4144 4166 0", "saiz saio", encrypted_samples},
        {"saio with one offset per run", aux(cat({saiz, full_atom("saio", 0, 0, words({2, 0x30, 0x80}))})),
         "#1 saiz 8 14 8 0 saio 4144 4224 0", "saiz saio", encv},
        {"senc alone: IV size from the tenc, entries at moof body + 56, after a 16-byte moof header", aux(senc, 16),
         "#1 saiz 10 16 10 0 saio 4168 4194 0", "saiz saio", encv},
        {"senc alone on a track without a protected description: the IV size from its entries",
         aux(full_atom("senc", 0, 0, cat({words({3}), iv, iv, iv}))), "#1 saiz 8 8 8 0 saio 4160 4176 0", "saiz saio",
         kMovie},
        {"PIFF's box with its own IV size, entries at moof body + 92", aux(piff),
         "#1 saiz 16 16 16 0 saio 4196 4228 0", "saiz saio", encv},
        {"a sample past the end of the file leaves nothing", aux(one_offset), "#1 saiz 8 14 saio 4144 left 1 left 1",
         "saiz saio", encv, 0x111E},
        {"sample groups renumbered, sub-samples, sdtp and trik per kept sample, each pssh once",
         {{0x1000, cat({pssh_a, pssh_b, first})}, {0x2000, cat({pssh_b, second})}},
         "#1 sdtp 20100000 20 trik 4182C300 00 sgpd FFFF FFFE sbgp 1x2 2x1 1x0 1x2 subs 2 4 5 raw 32 raw 36 left 1",
         "sdtp trik sgpd sbgp subs", groups, 0x210A},
        {"a fragment without groups first",
         {{0x800, moof({traf({sized, trun(0x001, 2, words({0x100}))})})}, {0x1000, cat({pssh_a, first})}},
         "#1 sdtp 00002010 0000 trik 00004182 C300 sgpd FFFF FFFE sbgp 2x0 1x2 2x1 1x0 subs 4 6 raw 32",
         "sdtp trik sgpd sbgp subs", groups},
    });
}

}  // namespace
