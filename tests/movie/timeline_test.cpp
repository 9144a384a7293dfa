// The times of the converted movie, one row per movie: each track's edit list
// placed on the converted timeline, the whole movie moved to start at 0, the
// movie timescale chosen, and the durations of tracks, media and movie.
// Expected: per track "[edits] track duration/media duration", then the
// movie's "duration@timescale"; edits as "duration,media time" in ms.
#include <gtest/gtest.h>

#include "movie/durations.h"
#include "tests/tables/golden_atoms.h"
#include "tests/tables/table_fields.h"

namespace {

constexpr int64_t E = -1;  // empty edit
constexpr int64_t kLast = INT64_MAX - INT32_MAX;  // the last decode time taken

struct Run { uint32_t count; int64_t value; };  // of a duration or a composition offset
struct Track {
    uint32_t timescale;
    int64_t decode_start;
    std::vector<Run> stts, ctts;
    std::vector<qt_edit_list_entry_t> edits;
};
// A track from 0, whose start keeps the others in their places.
const Track kFrom0{1000, 0, {{1, 1000}}, {}, {}};
// Video at 15360 ticks/s (512-tick frames, a B-frame shift of 1024) and audio.
const Track kOpenGop{15360, 7680, {{4, 512}}, {{1, 1536}, {2, 0}, {1, 1024}}, {}};
const Track kAudio{48000, 22528, {{10, 1024}}, {}, {{45, E, 1, 0}, {0, 0, 1, 0}}};

Bytes table(uint8_t version, const std::vector<Run>& runs) {
    Bytes body = atom_bytes::words({uint32_t{version} << 24, static_cast<uint32_t>(runs.size())});
    for (const Run& r : runs) {
        body = atom_bytes::cat({body, atom_bytes::words({r.count, static_cast<uint32_t>(r.value)})});
    }
    return body;
}

std::string rewritten(uint32_t movie_timescale, const std::vector<Track>& tracks) {
    qt_moov_info movie;
    parse(movie.mvhd, golden::kMvhdV0);
    movie.mvhd.set_timescale(movie_timescale);
    for (const Track& in : tracks) {
        qt_track_info& t = movie.tracks.emplace_back();
        parse(t.tkhd, golden::kTkhdV0);
        parse(t.mdia.mdhd, golden::kMdhdV0);
        t.mdia.mdhd.set_timescale(in.timescale);
        t.decode_start = in.decode_start;
        const Bytes stts = table(0, in.stts), ctts = table(1, in.ctts);
        t.stbl().stts.parse_atom_data(stts.data(), stts.size());
        t.stbl().ctts.parse_atom_data(ctts.data(), ctts.size());
        t.edts.present = t.edts.elst.present = !in.edits.empty();
        t.edts.elst.entries = in.edits;
    }
    if (!rewrite_durations(movie)) return "refused";
    std::string out;
    for (const qt_track_info& t : movie.tracks) {
        const std::string edits = t.edts.present ? fields(t.edts.elst) : "";
        out += str("[", edits, "] ", t.tkhd.duration(), "/", t.mdia.mdhd.duration(), " | ");
    }
    return out + str(movie.mvhd.duration(), "@", movie.movieTimescale());
}

TEST(Timeline, MovieTimesTable) {
    struct Row { uint32_t movie_timescale; std::vector<Track> tracks; const char* expected; };
    const Row rows[] = {
        // No edit list, decode start 0.5 s: an empty edit before all of the media.
        {1000, {{15360, 7680, {{30, 512}}, {}, {}}, kFrom0},
         "[500,-1 1000,0] 1500/15360 | [] 1000/1000 | 1500@1000"},
        // A media edit of duration 0 runs to the end of the presentation ...
        {1000, {{15360, 0, {{45, 512}}, {{45, 1024}}, {{0, 1024, 1, 0}}}},
         "[1500,1024] 1500/24064 | 1500@1000"},
        // ... rounded up, to show all of the last sample.
        {1000, {{48000, 0, {{1, 73024}}, {}, {{45, E, 1, 0}, {0, 0, 1, 0}}}, kFrom0},
         "[45,-1 1522,0] 1567/73024 | [] 1000/1000 | 1567@1000"},
        // A B-frame shift edit after a decode start: an empty edit in front.
        {1000, {{15360, 7680, {{30, 512}}, {{30, 1024}}, {{0, 1024, 1, 0}}}, kFrom0},
         "[500,-1 1000,1024] 1500/16384 | [] 1000/1000 | 1500@1000"},
        // Boundaries round to nearest: 45 + 469.33 ...
        {1000, {{48000, 22528, {{1, 50496}}, {}, {{45, E, 1, 0}, {0, 0, 1, 0}}}, kFrom0},
         "[514,-1 1052,0] 1566/50496 | [] 1000/1000 | 1566@1000"},
        // ... halves up.
        {1000, {{30000, 15, {{1, 30000}}, {}, {}}, kFrom0}, "[1,-1 1000,0] 1001/30000 | [] 1000/1000 | 1001@1000"},
        // A media edit gives up the part before the first sample ...
        {1000, {{48000, 4800, {{1, 48000}}, {}, {{1000, 0, 1, 0}}}, kFrom0},
         "[100,-1 900,0] 1000/48000 | [] 1000/1000 | 1000@1000"},
        // ... and one wholly before it becomes empty.
        {1000, {{48000, 4800, {{1, 48000}}, {}, {{50, 0, 1, 0}, {0, 4800, 1, 0}}}, kFrom0},
         "[50,-1 1000,0] 1050/48000 | [] 1000/1000 | 1050@1000"},
        // A media time past the start moves down, its rate kept.
        {1000, {{48000, 4800, {{1, 96000}}, {}, {{1000, 9600, 2, 0x4000}}}, kFrom0},
         "[1000,4800@2.16384] 1000/96000 | [] 1000/1000 | 1000@1000"},
        // A later gap lengthens the empty edit before it.
        {1000, {{48000, 4800, {{1, 96000}}, {}, {{200, 9600, 1, 0}, {100, E, 1, 0}, {300, 0, 1, 0}}}, kFrom0},
         "[200,4800 200,-1 200,0] 600/96000 | [] 1000/1000 | 1000@1000"},
        // A dwell before the first sample shows nothing; one after it moves down.
        {1000, {{48000, 4800, {{1, 96000}}, {}, {{100, 0, 0, 0}, {100, 9600, 0, 0}}}, kFrom0},
         "[100,-1 100,4800@0.0] 200/96000 | [] 1000/1000 | 1000@1000"},
        // A decode start before 0 (audio priming, 23.22 ms at 10 MHz): what
        // lies before 0 is not shown, as it was not.
        {1000, {{10000000, -232200, {{4, 232200}}, {}, {}}, kFrom0}, "[70,232200] 70/928800 | [] 1000/1000 | 1000@1000"},
        // Samples presented before 0: the media time stays 0.
        {1000, {{48000, 4800, {{1, 48000}}, {{1, -512}}, {}}, kFrom0},
         "[100,-1 1000,0] 1100/48000 | [] 1000/1000 | 1100@1000"},
        // Video from 0.5 s, an open GOP: its second frame shown first, at 512;
        // audio from 22528 after an edit of 45 ms. With a track from 0 each
        // keeps its start ...
        {1000, {kOpenGop, kAudio, {48000, 0, {{5, 960}}, {}, {}}},
         "[533,-1 167,512] 700/3072 | [514,-1 214,0] 728/10240 | [] 100/4800 | 728@1000"},
        // ... else the earliest moves to 0, exactly 19 ms before the other.
        {1000, {kOpenGop, kAudio}, "[19,-1 167,512] 186/3072 | [] 214/10240 | 214@1000"},
        // B-frames, shown from 1000 to 5000: moved to 0.
        {1000, {{1000, 0, {{4, 1000}}, {{1, 1000}, {1, 3000}, {2, 0}}, {}}}, "[4000,1000] 4000/5000 | 4000@1000"},
        // Negative offsets do not shorten the media.
        {1000, {{1000, 0, {{3, 1000}}, {{3, -1000}}, {}}}, "[] 3000/3000 | 3000@1000"},
        // Runs of none, and samples past the offsets.
        {1000, {{1000, 0, {{2, 1000}, {0, 9}, {2, 1000}}, {{0, 9999}, {1, 0}, {1, 2500}}, {}}},
         "[] 4500/4500 | 4500@1000"},
        // The longest track.
        {600, {{1000, 0, {{1, 10000}}, {}, {}}, {48000, 0, {{600, 1000}}, {}, {}}},
         "[] 6000/10000 | [] 7500/600000 | 7500@600"},
        // 205 ticks at 1000 in a movie at 600: 123, where floating point makes 122.
        {600, {{1000, 0, {{1, 205}}, {}, {}}}, "[] 123/205 | 123@600"},
        // 600 cannot hold 1001/30000 s to 1 ms: milliseconds then, rounded up.
        {600, {{30000, 0, {{1, 1001}}, {}, {}}}, "[] 34/1001 | 34@1000"},
        // 1 cannot hold 0.5 s, the media's 600 can.
        {1, {{600, 0, {{1, 300}}, {}, {}}}, "[] 300/300 | 300@600"},
        // Up by exactly 1 ms is fine: 3 ms at 500 take 2 ticks.
        {500, {{1000, 0, {{1, 3}}, {}, {}}}, "[] 2/3 | 2@500"},
        // A media timescale 0 counts no time; a movie timescale 0 becomes
        // milliseconds, in which its edits are read.
        {600, {{0, 0, {{1, 1000}}, {}, {}}, {1000, 0, {{1, 500}}, {}, {}}}, "[] 0/1000 | [] 300/500 | 300@600"},
        {0, {{48000, 0, {{1, 96000}}, {}, {{45, E, 1, 0}, {0, 0, 1, 0}}}, kFrom0},
         "[45,-1 2000,0] 2045/96000 | [] 1000/1000 | 2045@1000"},
        // The decode end at the 64-bit limit; one tick past it; the durations
        // alone past it.
        {1000, {{1000, kLast - 2000, {{2, 1000}}, {}, {}}}, "[] 2000/2000 | 2000@1000"},
        {1000, {{1000, kLast - 1999, {{2, 1000}}, {}, {}}}, "refused"},
        {1000, {{1000, 0, {{0xFFFFFFFF, 0xFFFFFFFF}}, {}, {}}}, "refused"},
    };
    for (const Row& row : rows) EXPECT_EQ(rewritten(row.movie_timescale, row.tracks), row.expected);
}

}  // namespace
