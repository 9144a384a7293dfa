#include "movie/exact_time.h"

#include <cassert>
#include <limits>

namespace {

__extension__ typedef __int128 int128;
__extension__ typedef unsigned __int128 uint128;

constexpr uint32_t kMillisecondsPerSecond = 1000;

// Floor division for a positive divisor.
int128 floor_div(int128 n, uint32_t d) {
    int128 q = n / d;
    if (n % d < 0) --q;
    return q;
}

}  // namespace

// The value times k, as its floor plus remainder / denominator (the
// remainder in [0, denominator)). With ticks below 2^63, k below 2^42 and at
// most three timescales below 2^32, every product stays below 2^127.
struct ScaledTime {
    int128 floor = 0;
    uint128 remainder = 0;
    uint128 denominator = 1;

    ScaledTime(const ExactTime& t, uint64_t k) {
        int128 whole = 0;
        for (size_t i = 0; i < t.count_; ++i) denominator *= t.terms_[i].timescale;
        uint128 fraction = 0;
        for (size_t i = 0; i < t.count_; ++i) {
            const ExactTime::Term& term = t.terms_[i];
            const int128 n = int128{term.ticks} * int128{k};
            const int128 q = floor_div(n, term.timescale);
            whole += q;
            fraction += static_cast<uint128>(n - q * term.timescale) * (denominator / term.timescale);
        }
        floor = whole + static_cast<int128>(fraction / denominator);
        remainder = fraction % denominator;
    }

    int128 rounded(ExactTime::Round round) const {
        const bool up = round == ExactTime::Round::up ? remainder > 0 : 2 * remainder >= denominator;
        return floor + (up ? 1 : 0);
    }
};

ExactTime::ExactTime(int64_t ticks, uint32_t timescale) { add(ticks, timescale, false); }

ExactTime ExactTime::unsigned_ticks(uint64_t ticks, uint32_t timescale) {
    if (ticks > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        ExactTime t;
        t.overflowed_ = true;
        return t;
    }
    return ExactTime(static_cast<int64_t>(ticks), timescale);
}

void ExactTime::add(int64_t ticks, uint32_t timescale, bool negate) {
    assert(timescale != 0);
    if (ticks == 0) return;
    for (size_t i = 0; i < count_; ++i) {
        if (terms_[i].timescale != timescale) continue;
        int64_t& sum = terms_[i].ticks;
        overflowed_ = overflowed_ || (negate ? __builtin_sub_overflow(sum, ticks, &sum)
                                             : __builtin_add_overflow(sum, ticks, &sum));
        return;
    }
    assert(count_ < terms_.size());
    if (negate && ticks == std::numeric_limits<int64_t>::min()) {
        overflowed_ = true;
        return;
    }
    terms_[count_++] = {negate ? -ticks : ticks, timescale};
}

ExactTime& ExactTime::operator+=(const ExactTime& other) {
    for (size_t i = 0; i < other.count_; ++i) add(other.terms_[i].ticks, other.terms_[i].timescale, false);
    overflowed_ = overflowed_ || other.overflowed_;
    return *this;
}

ExactTime& ExactTime::operator-=(const ExactTime& other) {
    for (size_t i = 0; i < other.count_; ++i) add(other.terms_[i].ticks, other.terms_[i].timescale, true);
    overflowed_ = overflowed_ || other.overflowed_;
    return *this;
}

int ExactTime::sign() const {
    const ScaledTime s(*this, 1);
    if (s.floor < 0) return -1;
    return s.floor == 0 && s.remainder == 0 ? 0 : 1;
}

std::optional<uint64_t> ExactTime::in(uint32_t timescale, Round round) const {
    if (overflowed_) return std::nullopt;
    const int128 ticks = ScaledTime(*this, timescale).rounded(round);
    if (ticks < 0 || ticks > int128{std::numeric_limits<uint64_t>::max()}) return std::nullopt;
    return static_cast<uint64_t>(ticks);
}

bool ExactTime::within_a_millisecond(uint32_t timescale, Round round) const {
    if (overflowed_) return false;
    // In thousandths of a tick the error may be at most `timescale`: with
    // the exact value x = floor + f (0 <= f < 1) and the rounded one y,
    // |y - x| <= timescale compares whole numbers once f is accounted for.
    const int128 y = ScaledTime(*this, timescale).rounded(round) * kMillisecondsPerSecond;
    const ScaledTime x(*this, uint64_t{timescale} * kMillisecondsPerSecond);
    if (y > x.floor || (y == x.floor && x.remainder == 0)) return y - x.floor <= timescale;
    const int128 below = x.floor - y;
    return x.remainder == 0 ? below <= timescale : below <= int128{timescale} - 1;
}
