// The duration rewrite: media durations from the samples (their presentation
// end when composition offsets push it past the decode end), track and movie
// durations exactly converted into the movie timescale and rounded up, a
// finer movie timescale where the movie's own cannot hold them to 1 ms, and
// the headers promoted to version 1 when a value no longer fits.
#include "movie/durations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "tests/support/atom_bytes.h"

namespace {

using atom_bytes::Bytes;
using atom_bytes::cat;
using atom_bytes::words;

// Every header starts with a duration of 0x11111111, so that a rewrite to 0
// shows.
constexpr uint32_t kStale = 0x11111111;

Bytes mvhd_body(uint32_t timescale) {
    // version 0 | creation | modification | timescale | duration | 80 bytes of the rest
    return cat({words({0, 0, 0, timescale, kStale}), Bytes(80, 0)});
}

Bytes tkhd_body(uint32_t id) {
    // version 0 | creation | modification | track_ID | reserved | duration | 60 bytes of the rest
    return cat({words({0, 0, 0, id, 0, kStale}), Bytes(60, 0)});
}

Bytes mdhd_body(uint32_t timescale) {
    // version 0 | creation | modification | timescale | duration | language, pre_defined
    return words({0, 0, 0, timescale, kStale, 0x55C40000});
}

template <typename Header>
void parse_into(Header& h, const Bytes& body) {
    h.parse_atom_data(body.data(), body.size());
}

struct TrackIn {
    uint32_t timescale;
    std::vector<std::pair<uint32_t, uint32_t>> stts;  // {count, duration}
    std::vector<std::pair<uint32_t, int32_t>> ctts;   // {count, offset}, read as version 1
};

struct TrackOut {
    uint64_t mdhd;
    int mdhd_version;
    uint64_t tkhd;
    int tkhd_version;
};

struct Row {
    const char* name;
    uint32_t movie_timescale;
    std::vector<TrackIn> tracks;
    std::vector<TrackOut> expected;
    uint64_t mvhd;
    int mvhd_version;
    uint32_t new_movie_timescale;
};

qt_moov_info movie_of(const Row& row) {
    qt_moov_info movie;
    parse_into(movie.mvhd, mvhd_body(row.movie_timescale));
    uint32_t id = 1;
    for (const TrackIn& in : row.tracks) {
        qt_track_info t;
        parse_into(t.tkhd, tkhd_body(id++));
        parse_into(t.mdia.mdhd, mdhd_body(in.timescale));
        Bytes stts = words({0, static_cast<uint32_t>(in.stts.size())});  // version 0, entry count
        for (const auto& [count, duration] : in.stts) stts = cat({stts, words({count, duration})});
        t.stbl().stts.parse_atom_data(stts.data(), stts.size());
        Bytes ctts = words({0x01000000, static_cast<uint32_t>(in.ctts.size())});  // version 1
        for (const auto& [count, offset] : in.ctts)
            ctts = cat({ctts, words({count, static_cast<uint32_t>(offset)})});
        t.stbl().ctts.parse_atom_data(ctts.data(), ctts.size());
        movie.tracks.push_back(std::move(t));
    }
    return movie;
}

TEST(Durations, RewriteFromTheSampleTables) {
    const Row rows[] = {
        {"10 s at 90000 in a movie at 1000", 1000,
         {{90000, {{300, 3000}}, {}}},
         {{900000, 0, 10000, 0}}, 10000, 0, 1000},
        {"the longest of 10.0 s and 12.5 s at 600", 600,
         {{1000, {{1, 10000}}, {}}, {48000, {{600, 1000}}, {}}},
         {{10000, 0, 6000, 0}, {600000, 0, 7500, 0}}, 7500, 0, 600},
        {"205 ticks at 1000 in a movie at 600: 123, which floating point makes 122", 600,
         {{1000, {{1, 205}}, {}}},
         {{205, 0, 123, 0}}, 123, 0, 600},
        {"33.37 ticks round up to 34, covering the media", 1000,
         {{30000, {{1, 1001}}, {}}},
         {{1001, 0, 34, 0}}, 34, 0, 1000},
        {"600 cannot hold 1001/30000 s to 1 ms: milliseconds then", 600,
         {{30000, {{1, 1001}}, {}}},
         {{1001, 0, 34, 0}}, 34, 0, 1000},
        {"timescale 1 cannot hold 0.5 s; the media's 600 can", 1,
         {{600, {{1, 300}}, {}}},
         {{300, 0, 300, 0}}, 300, 0, 600},
        {"rounded up by exactly 1 ms is fine: 3 ms at 500 take 2 ticks", 500,
         {{1000, {{1, 3}}, {}}},
         {{3, 0, 2, 0}}, 2, 0, 500},
        {"media timescale 0 counts no seconds", 600,
         {{0, {{1, 1000}}, {}}, {1000, {{1, 500}}, {}}},
         {{1000, 0, 0, 0}, {500, 0, 300, 0}}, 300, 0, 600},
        {"movie timescale 0", 0,
         {{1000, {{1, 1000}}, {}}},
         {{1000, 0, 0, 0}}, 0, 0, 0},
        {"empty table", 600,
         {{1000, {}, {}}},
         {{0, 0, 0, 0}}, 0, 0, 600},
        {"no tracks", 600, {}, {}, 0, 0, 600},
        // I P B B in decode order, presented I B B P: P ends at 1000 + 3000 +
        // 1000; the movie starts with I, at 1000.
        {"B-frames: the last presented sample ends after the decode end", 1000,
         {{1000, {{4, 1000}}, {{1, 1000}, {1, 3000}, {2, 0}}}},
         {{5000, 0, 4000, 0}}, 4000, 0, 1000},
        {"negative offsets do not shorten the media", 1000,
         {{1000, {{3, 1000}}, {{3, -1000}}}},
         {{3000, 0, 3000, 0}}, 3000, 0, 1000},
        // Sample 2 (decode 1000..2000) is shown 2500 later, ending at 4500;
        // count-0 runs in both tables are passed over, samples 3 and 4 have no
        // offset run left and count as 0.
        {"count-0 runs and a short offset table", 1000,
         {{1000, {{2, 1000}, {0, 9}, {2, 1000}}, {{0, 9999}, {1, 0}, {1, 2500}}}},
         {{4500, 0, 4500, 0}}, 4500, 0, 1000},
        {"4026532000 media ticks need version 1, the track's 4026532 s do not", 1,
         {{1000, {{1, 4026532000u}}, {}}},
         {{4026532000u, 1, 4026532, 0}}, 4026532, 0, 1},
        {"4026531839 ticks fit version 0", 1,
         {{1000, {{1, 4026531839u}}, {}}},
         {{4026531839u, 0, 4026531839u, 0}}, 4026531839u, 0, 1000},
        {"track and movie promoted by their own values", 1000000,
         {{1, {{1, 5000}}, {}}},
         {{5000, 0, 5000000000u, 1}}, 5000000000u, 1, 1000000},
    };
    for (const Row& row : rows) {
        qt_moov_info movie = movie_of(row);
        ASSERT_TRUE(rewrite_durations(movie)) << row.name;
        ASSERT_EQ(movie.tracks.size(), row.expected.size()) << row.name;
        for (size_t i = 0; i < row.expected.size(); ++i) {
            const qt_track_info& t = movie.tracks[i];
            const TrackOut& e = row.expected[i];
            EXPECT_EQ(t.mdia.mdhd.duration(), e.mdhd) << row.name << ", track " << i;
            EXPECT_EQ(t.mdia.mdhd.version(), e.mdhd_version) << row.name << ", track " << i;
            EXPECT_EQ(t.tkhd.duration(), e.tkhd) << row.name << ", track " << i;
            EXPECT_EQ(t.tkhd.version(), e.tkhd_version) << row.name << ", track " << i;
            // The timescale survives a promotion.
            EXPECT_EQ(t.trackTimescale(), row.tracks[i].timescale) << row.name << ", track " << i;
        }
        EXPECT_EQ(movie.mvhd.duration(), row.mvhd) << row.name;
        EXPECT_EQ(movie.mvhd.version(), row.mvhd_version) << row.name;
        EXPECT_EQ(movie.movieTimescale(), row.new_movie_timescale) << row.name;
    }
}

TEST(Durations, ATimelinePast63BitsIsRefused) {
    constexpr uint64_t kMax = INT64_MAX - INT32_MAX;  // the last decode time taken
    struct Case {
        const char* name;
        uint64_t decode_start;
        uint32_t count, duration;
        bool fits;
    };
    const Case cases[] = {
        {"the decode end at the limit", kMax - 2000, 2, 1000, true},
        {"one tick past it", kMax - 1999, 2, 1000, false},
        {"the durations alone past it", 0, 0xFFFFFFFF, 0xFFFFFFFF, false},
    };
    for (const Case& c : cases) {
        qt_moov_info movie = movie_of({"", 1000, {{1000, {{c.count, c.duration}}, {}}}, {}, 0, 0, 0});
        movie.tracks[0].decode_start = c.decode_start;
        EXPECT_EQ(rewrite_durations(movie), c.fits) << c.name;
    }
}

}  // namespace
