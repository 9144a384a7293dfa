// ExactTime: a point or length of time held exactly, as a sum of tick counts
// each in its own timescale: an edit of the movie's timescale lengthened by a
// gap in a track's media timescale, less the start of the track (another
// media timescale) that the whole movie moves to 0. Converted to a timescale
// once, at the end, by one exact rounding: no floating point and no rounding
// on the way.
// Holds up to three timescales, which is all that one track's values and the
// common start need between them; a fourth is a programming error. Tick
// counts are signed 64-bit: a value that leaves that range is marked
// overflowed and stays so.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

class ExactTime {
public:
    enum class Round { nearest, up };

    ExactTime() = default;
    // `timescale` is not 0.
    ExactTime(int64_t ticks, uint32_t timescale);
    // Overflowed when `ticks` does not fit a signed 64-bit count.
    static ExactTime unsigned_ticks(uint64_t ticks, uint32_t timescale);

    ExactTime& operator+=(const ExactTime& other);
    ExactTime& operator-=(const ExactTime& other);
    friend ExactTime operator-(ExactTime a, const ExactTime& b) { return a -= b; }
    // Both values' timescales together must be three at most.
    friend bool operator<(const ExactTime& a, const ExactTime& b) { return (a - b).sign() < 0; }

    bool overflowed() const { return overflowed_; }
    int sign() const;

    // The value in ticks of `timescale`, rounded to nearest (halves up) or
    // up; nothing when it is negative, does not fit 64 bits or overflowed.
    std::optional<uint64_t> in(uint32_t timescale, Round round) const;
    // Whether that rounded value lies within 1 ms of the exact one.
    bool within_a_millisecond(uint32_t timescale, Round round) const;

private:
    struct Term {
        int64_t ticks;
        uint32_t timescale;
    };
    void add(int64_t ticks, uint32_t timescale, bool negate);

    std::array<Term, 3> terms_{};
    size_t count_ = 0;
    bool overflowed_ = false;

    friend struct ScaledTime;
};
