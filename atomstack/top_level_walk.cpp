#include "atomstack/top_level_walk.h"

#include "atomstack/read_ahead.h"

namespace {

// Reads end on a page boundary: the pages are brought in whole anyway.
constexpr uint64_t kPage = 4096;

// Heads of small fragments run together; no read for headers grows past this.
constexpr uint64_t kMaxExpected = uint64_t{1} << 20;

uint64_t page_end(uint64_t at) { return at > UINT64_MAX - kPage ? UINT64_MAX : (at + kPage - 1) / kPage * kPage; }

}  // namespace

TopLevelWalk::TopLevelWalk(const FileReader& file, uint64_t from, uint64_t end, uint64_t first_read)
    : file_(file), pos_(from), end_(std::min(end, file.size())), buf_at_(from), expected_(first_read),
      head_from_(from), used_to_(from) {}

bool TopLevelWalk::extend(uint64_t to) {
    const uint64_t want = std::min(end_, page_end(to));
    if (want > buffer_end()) {
        const uint64_t at = buffer_end();
        const size_t old = buf_.size();
        buf_.resize(static_cast<size_t>(want - buf_at_));
        buf_.resize(old + file_.read(at, buf_.data() + old, static_cast<size_t>(want - at)));
    }
    return to <= buffer_end();
}

bool TopLevelWalk::ensure(uint64_t from, uint64_t to, uint64_t read_to) {
    if (from >= buf_at_ && to <= buffer_end()) return true;
    if (from < buf_at_ || from > buffer_end()) {
        buf_.clear();
        buf_at_ = from;
        if (ahead_ != nullptr && ahead_->take(from, buf_) && to <= buffer_end()) return true;
    } else if (from > buf_at_) {
        // Contiguous: keep the bytes from `from` on and read what follows.
        buf_.erase(buf_.begin(), buf_.begin() + static_cast<ptrdiff_t>(from - buf_at_));
        buf_at_ = from;
    }
    return extend(std::max(to, read_to));
}

bool TopLevelWalk::next(AtomHeader& out) {
    if (pos_ >= end_) return false;
    if (pos_ > used_to_ + kPage) {
        // The walk skips a payload (media data): a fragment's head has ended.
        const uint64_t head = used_to_ - head_from_;
        expected_ = std::min(kMaxExpected, std::max(head, last_head_) + std::max(head, last_head_) / 2 + 256);
        last_head_ = head;
        head_from_ = used_to_ = pos_;
        if (ahead_ != nullptr) ahead_->expect(expected_);
    }
    const uint64_t header_end = std::min(end_, pos_ + kMaxAtomHeader);
    ensure(pos_, header_end, std::min(end_, pos_ + expected_));
    const bool held = pos_ >= buf_at_ && pos_ < buffer_end();
    const size_t avail = held ? static_cast<size_t>(buffer_end() - pos_) : 0;
    if (read_atom_header(held ? buf_.data() + (pos_ - buf_at_) : nullptr, avail, pos_, end_, out) != HeaderRead::ok) {
        pos_ = end_;
        return false;
    }
    used_up_to(out.body());
    pos_ = std::min(out.end, end_);
    return true;
}

bool TopLevelWalk::payload(const AtomHeader& a, uint64_t max, ByteSpan& out) {
    out = ByteSpan{};
    const uint64_t from = a.body();
    if (from >= end_ || from >= a.end) return from <= end_;
    const uint64_t to = std::min({a.end, end_, from + std::min(max, end_ - from)});
    // The header after the atom comes with the same read.
    const uint64_t next_header = std::min(end_, to + kMaxAtomHeader);
    if (!ensure(from, to, next_header)) return false;
    used_up_to(next_header);
    out = ByteSpan{buf_.data() + (from - buf_at_), static_cast<size_t>(to - from)};
    return true;
}

bool TopLevelWalk::bytes(uint64_t at, size_t len, ByteSpan& out) {
    out = ByteSpan{};
    if (at > end_ || len > end_ - at) return false;
    if (len == 0) return true;
    if (!ensure(at, at + len, at + len)) return false;
    used_up_to(at + len);
    out = ByteSpan{buf_.data() + (at - buf_at_), len};
    return true;
}
