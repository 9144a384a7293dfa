#include "atomstack/read_ahead.h"

#include <algorithm>

#include "atoms/atom_header.h"
#include "atoms/fourcc.h"

namespace {

constexpr uint64_t kPage = 4096;

}  // namespace

ReadAhead::ReadAhead(const FileReader& file, std::vector<uint64_t> positions, uint64_t end)
    : file_(file), end_(std::min(end, file.size())), pos_(std::move(positions)) {
    std::sort(pos_.begin(), pos_.end());
    pos_.erase(std::unique(pos_.begin(), pos_.end()), pos_.end());
    pos_.erase(std::lower_bound(pos_.begin(), pos_.end(), end_), pos_.end());
    slots_.resize(pos_.size());
    add_threads(kFirstThreads);
}

void ReadAhead::add_threads(size_t n) {
    const size_t target = std::min({kThreads, pos_.size(), threads_.size() + n});
    while (threads_.size() < target) threads_.emplace_back([this] { work(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        stop_ = true;
    }
    room_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void ReadAhead::expect(uint64_t bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    expect_ = std::max<uint64_t>(bytes, 1);
}

void ReadAhead::read_slot(uint64_t at, uint64_t expected, std::vector<unsigned char>& out) const {
    // A page-aligned end: the pages come whole anyway.
    const uint64_t want = std::min(end_ - at, ((at + expected + kPage - 1) / kPage * kPage) - at);
    out.resize(static_cast<size_t>(want));
    out.resize(file_.read(at, out.data(), out.size()));
    // A moof larger than the guess: the rest, and the header after it.
    AtomHeader h;
    if (read_atom_header(out.data(), out.size(), at, end_, h) != HeaderRead::ok || h.type != fourcc("moof")) return;
    const uint64_t need = std::min(end_, h.end + kMaxAtomHeader) - at;
    if (need <= out.size() || need > kMaxRead || out.size() < want) return;
    const size_t old = out.size();
    out.resize(static_cast<size_t>(need));
    out.resize(old + file_.read(at + old, out.data() + old, static_cast<size_t>(need - old)));
}

void ReadAhead::work() {
    std::unique_lock<std::mutex> lock(mu_);
    for (;;) {
        room_.wait(lock, [&] {
            return stop_ || next_ >= pos_.size() || (next_ < taken_ + kAhead && held_ < kHeld);
        });
        if (stop_ || next_ >= pos_.size()) return;
        const size_t i = std::max(next_, taken_);
        next_ = i + 1;
        if (i >= pos_.size()) return;
        slots_[i].state = State::reading;
        const uint64_t at = pos_[i], expected = expect_;
        std::vector<unsigned char> bytes;
        lock.unlock();
        read_slot(at, expected, bytes);
        lock.lock();
        if (i >= taken_) {
            held_ += bytes.size();
            slots_[i].bytes = std::move(bytes);
        }
        slots_[i].state = State::done;
        if (awaited_ == i) done_.notify_one();
    }
}

bool ReadAhead::take(uint64_t pos, std::vector<unsigned char>& out) {
    const size_t i = static_cast<size_t>(std::lower_bound(pos_.begin(), pos_.end(), pos) - pos_.begin());
    std::unique_lock<std::mutex> lock(mu_);
    const size_t before = taken_;
    // Everything before `pos` is behind the walk now.
    for (size_t k = taken_; k < i; ++k) {
        held_ -= slots_[k].bytes.size();
        std::vector<unsigned char>().swap(slots_[k].bytes);
    }
    taken_ = std::max(taken_, i);
    bool found = i < pos_.size() && pos_[i] == pos;
    // Reads that have not kept ahead of the walk are slow ones: more of them
    // go in flight together from now on.
    const bool behind = found && slots_[i].state != State::done;
    if (found && slots_[i].state == State::waiting) {
        // Not claimed yet: the walk reads it itself rather than wait.
        found = false;
        taken_ = i + 1;
        next_ = std::max(next_, taken_);
    } else if (found) {
        awaited_ = i;
        done_.wait(lock, [&] { return slots_[i].state == State::done; });
        awaited_ = SIZE_MAX;
        held_ -= slots_[i].bytes.size();
        out = std::move(slots_[i].bytes);
        taken_ = i + 1;
    }
    // Slots given up or taken make room for reads further on; the threads
    // are woken in batches, not for every slot.
    freed_ += taken_ - before;
    if (freed_ >= kWakeBatch || next_ < taken_) {
        freed_ = 0;
        room_.notify_all();
    }
    lock.unlock();
    if (behind) add_threads(threads_.size());
    return found && !out.empty();
}
