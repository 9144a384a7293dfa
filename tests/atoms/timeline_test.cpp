#include "movie/timeline.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "movie/durations.h"
#include "movie/moov.h"
#include "tests/atoms/edit_list_matchers.h"
#include "tests/support/mp4_builder.h"

namespace {

constexpr int64_t E = -1;  // empty edit

struct Case {
    const char* name;
    Edits edits;
    TrackTimeline track;  // T0, earliest composition, presentation end, media ts, movie ts
    Edits expected;
};

// Movie timescale 1000 throughout; durations below in ms. Video at 15360
// ticks/s has 30 fps frames of 512 ticks and a B-frame shift of 1024.
const Case kCases[] = {
    {"no edit list, T0 > 0: empty edit of T0, then all of the media",
     {}, {7680, 0, 15360, 15360, 1000},
     {{500, E, 1, 0}, {1000, 0, 1, 0}}},
    {"no edit list, T0 > 0, first frame presented at 1024: the empty edit reaches it",
     {}, {7680, 1024, 16384, 15360, 1000},
     {{567, E, 1, 0}, {1000, 1024, 1, 0}}},  // (7680 + 1024) / 15.36 = 566.7
    {"0-duration media edit, T0 = 0: runs to the end of the presentation",
     {{0, 1024, 1, 0}}, {0, 1024, 24064, 15360, 1000},
     {{1500, 1024, 1, 0}}},  // (24064 - 1024) / 15.36
    {"0-duration media edit: the duration rounds up to show the last sample",
     {{45, E, 1, 0}, {0, 0, 1, 0}}, {0, 0, 73024, 48000, 1000},
     {{45, E, 1, 0}, {1522, 0, 1, 0}}},  // 73024 / 48 = 1521.3
    {"B-frame shift edit with T0 > 0: needs an empty edit in front",
     {{0, 1024, 1, 0}}, {7680, 1024, 16384, 15360, 1000},
     {{500, E, 1, 0}, {1000, 1024, 1, 0}}},
    {"empty edit then media edit, T0 > 0: the empty edit grows",
     {{66, E, 1, 0}, {0, 1024, 1, 0}}, {7680, 1024, 16384, 15360, 1000},
     {{566, E, 1, 0}, {1000, 1024, 1, 0}}},
    {"the part before the first sample rounds to nearest",
     {{45, E, 1, 0}, {0, 0, 1, 0}}, {22528, 0, 50496, 48000, 1000},
     {{514, E, 1, 0}, {1052, 0, 1, 0}}},  // 45 + 469.3
    {"rounding to nearest goes up past the half",
     {}, {1010, 0, 30000, 30000, 1000},
     {{34, E, 1, 0}, {1000, 0, 1, 0}}},  // 33.67, not 33
    {"a media edit with a duration gives up the part before the first sample",
     {{1000, 0, 1, 0}}, {4800, 0, 48000, 48000, 1000},
     {{100, E, 1, 0}, {900, 0, 1, 0}}},
    {"a media edit wholly before the first sample becomes empty",
     {{50, 0, 1, 0}, {0, 4800, 1, 0}}, {4800, 0, 48000, 48000, 1000},
     {{50, E, 1, 0}, {1000, 0, 1, 0}}},
    {"a media time past T0 only moves down; its rate is kept",
     {{1000, 9600, 2, 0x4000}}, {4800, 0, 96000, 48000, 1000},
     {{1000, 4800, 2, 0x4000}}},
    {"a later gap lengthens the empty edit just before it",
     {{200, 9600, 1, 0}, {100, E, 1, 0}, {300, 0, 1, 0}}, {4800, 0, 96000, 48000, 1000},
     {{200, 4800, 1, 0}, {200, E, 1, 0}, {200, 0, 1, 0}}},
    {"a dwell before the first sample shows nothing; one after it moves down",
     {{100, 0, 0, 0}, {100, 9600, 0, 0}}, {4800, 0, 96000, 48000, 1000},
     {{100, E, 1, 0}, {100, 4800, 0, 0}}},
    {"samples presented before composition time 0: media time stays at 0",
     {}, {4800, -512, 48000, 48000, 1000},
     {{100, E, 1, 0}, {1000, 0, 1, 0}}},
};

TEST(Timeline, RebaseTable) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(in_movie_ticks(rebase_edit_list(c.edits, c.track), c.track.movie_timescale), c.expected);
    }
}

// The duration rewrite over a whole movie (timescale 1000) whose tracks
// start at different decode times: with a third track that starts at 0 each
// keeps its place; without it the earliest track moves to 0 and the other
// keeps its distance from it.
qt_moov_info rewritten_movie(bool with_track_from_0) {
    // Track 2 comes with the edit list of an HLS audio track.
    mp4b::Bytes elst_body;
    BeWriter w(elst_body);
    w.u32(2);  // entry count
    w.u32(45);
    w.u32(0xFFFFFFFF);  // empty edit of 45 ms
    w.u32(0x00010000);
    w.u32(0);
    w.u32(0);  // media edit from 0, to the end
    w.u32(0x00010000);
    mp4b::Atom audio = mp4b::minimal_track(2, "soun", 48000);
    audio.children.insert(audio.children.begin() + 1, mp4b::container("edts", {mp4b::full("elst", 0, 0, elst_body)}));
    std::vector<mp4b::Atom> tracks = {mp4b::minimal_track(1, "vide", 15360), std::move(audio)};
    if (with_track_from_0) tracks.push_back(mp4b::minimal_track(3, "soun", 48000));
    const mp4b::Bytes moov = mp4b::serialise(mp4b::movie(std::move(tracks), false));
    qt_moov_info movie;
    movie.parse_atom_data(moov.data() + 8, moov.size() - 8);

    // Video from 0.5 s, no edit list, an open GOP: the second frame is
    // presented first (at 512), the last one ends at 2048 + 1024.
    qt_track_info& video = movie.tracks[0];
    video.decode_start = 7680;
    const int32_t offsets[] = {1536, 0, 0, 1024};
    for (uint64_t i = 0; i < 4; ++i) video.appendSample(512, 100, 0, offsets[i], i);
    // Audio from 22528 ticks: ten frames of 1024.
    qt_track_info& audio_track = movie.tracks[1];
    audio_track.decode_start = 22528;
    for (uint64_t i = 0; i < 10; ++i) audio_track.appendSample(1024, 10, 0, 0, i);
    // Audio from 0 without an edit list: five frames of 960 (100 ms).
    if (with_track_from_0) {
        for (uint64_t i = 0; i < 5; ++i) movie.tracks[2].appendSample(960, 10, 0, 0, i);
    }
    EXPECT_TRUE(rewrite_durations(movie));
    return movie;
}

TEST(RewriteWithEdits, EachTrackKeepsItsOwnStartWhenOneStartsAt0) {
    const qt_moov_info movie = rewritten_movie(true);
    // (7680 + 512) / 15.36 = 533.3; (3072 - 512) / 15.36 = 166.7, rounded up.
    EXPECT_EQ(movie.tracks[0].edts.elst.entries, (Edits{{533, E, 1, 0}, {167, 512, 1, 0}}));
    // 45 + 22528 / 48 = 514.3; 10240 / 48 = 213.3, rounded up.
    EXPECT_EQ(movie.tracks[1].edts.elst.entries, (Edits{{514, E, 1, 0}, {214, 0, 1, 0}}));
    // Starts at 0 without an edit list: still none.
    EXPECT_FALSE(movie.tracks[2].edts.present);

    EXPECT_EQ(movie.tracks[0].mdia.mdhd.duration(), 3072u);
    EXPECT_EQ(movie.tracks[0].tkhd.duration(), 533u + 167u);
    EXPECT_EQ(movie.tracks[1].mdia.mdhd.duration(), 10240u);
    EXPECT_EQ(movie.tracks[1].tkhd.duration(), 514u + 214u);
    EXPECT_EQ(movie.tracks[2].tkhd.duration(), 100u);
    EXPECT_EQ(movie.mvhd.duration(), 728u);
}

TEST(RewriteWithEdits, TheEarliestTrackMovesTo0) {
    const qt_moov_info movie = rewritten_movie(false);
    // Video first shows at 533.33 ms, audio at 514.33: video 19 ms after it,
    // exactly, however the two round on their own.
    EXPECT_EQ(movie.tracks[0].edts.elst.entries, (Edits{{19, E, 1, 0}, {167, 512, 1, 0}}));
    // All of the audio from 0: as without an edit list, which it gets.
    EXPECT_FALSE(movie.tracks[1].edts.present);
    EXPECT_EQ(movie.tracks[0].tkhd.duration(), 19u + 167u);
    EXPECT_EQ(movie.tracks[1].tkhd.duration(), 214u);
    EXPECT_EQ(movie.mvhd.duration(), 214u);
}

}  // namespace
