#include "movie/child_order.h"

#include <algorithm>
#include <cassert>
#include <tuple>

void ChildOrder::clear() {
    places_.clear();
    read_.clear();
    last_ = kBeforeAll;
}

void ChildOrder::add(int kind, RawAtomList& raw, const ChildAtom& child) {
    if (kind == kRaw) {
        raw.add(child);
        places_.push_back(last_);
    } else if (kind >= 0) {
        const size_t k = static_cast<size_t>(kind);
        if (read_.size() <= k) read_.resize(k + 1, 0);
        last_ = {kind, read_[k]++};
    }
}

std::vector<ChildOrder::Item> ChildOrder::items(const std::vector<size_t>& counts, size_t raw_count,
                                                Place unplaced) const {
    // Each raw atom's place, moved onto an element that is written: a later
    // duplicate's place is that of the one element of its kind.
    struct Key {
        int kind;
        size_t index;
        size_t raw;
        bool operator<(const Key& o) const { return std::tie(kind, index, raw) < std::tie(o.kind, o.index, o.raw); }
    };
    std::vector<Key> keys;
    keys.reserve(raw_count);
    for (size_t i = 0; i < raw_count; ++i) {
        const Place p = i < places_.size() ? places_[i] : unplaced;
        assert(p.kind < static_cast<int>(counts.size()));
        size_t index = 0;
        if (p.kind >= 0) {
            const size_t n = counts[static_cast<size_t>(p.kind)];
            index = n == 0 ? 0 : std::min(p.index, n - 1);
        }
        keys.push_back({p.kind, index, i});
    }
    std::sort(keys.begin(), keys.end());

    std::vector<Item> out;
    out.reserve(raw_count + counts.size());
    auto next = keys.begin();
    auto raws_at = [&](int kind, size_t index) {
        for (; next != keys.end() && next->kind == kind && next->index == index; ++next) {
            out.push_back({kRaw, next->raw});
        }
    };
    raws_at(kBeforeAll.kind, 0);
    for (int kind = 0; kind < static_cast<int>(counts.size()); ++kind) {
        const size_t n = counts[static_cast<size_t>(kind)];
        // A kind without elements still holds the place of the raw atoms
        // that followed it.
        for (size_t index = 0; index < std::max<size_t>(n, 1); ++index) {
            if (index < n) out.push_back({kind, index});
            raws_at(kind, index);
        }
    }
    assert(next == keys.end());
    return out;
}
