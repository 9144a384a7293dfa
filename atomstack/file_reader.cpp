#include "atomstack/file_reader.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {
ReadCounters process_counters;
}  // namespace

const ReadCounters& FileReader::counters() { return process_counters; }

FileReader::FileReader(int fd, uint64_t size) : fd_(fd), size_(size) {}

FileReader::FileReader(std::vector<unsigned char> image)
    : image_(std::make_shared<const std::vector<unsigned char>>(std::move(image))), size_(image_->size()) {}

size_t FileReader::read(uint64_t pos, unsigned char* out, size_t len) const {
    if (pos >= size_) return 0;
    len = static_cast<size_t>(std::min<uint64_t>(len, size_ - pos));
    size_t got = read_underneath(pos, out, len);
    for (const auto& p : patches_) {
        // The patched bytes are there even where the file underneath ends.
        const uint64_t from = std::max(pos, p->at), to = std::min(pos + len, p->at + p->bytes.size());
        if (from >= to) continue;
        std::memcpy(out + (from - pos), p->bytes.data() + (from - p->at), static_cast<size_t>(to - from));
        if (to - pos > got && from - pos <= got) got = static_cast<size_t>(to - pos);
    }
    return got;
}

size_t FileReader::read_underneath(uint64_t pos, unsigned char* out, size_t len) const {
    if (image_) {
        len = static_cast<size_t>(std::min<uint64_t>(len, image_->size() - std::min<uint64_t>(pos, image_->size())));
        if (len > 0) std::memcpy(out, image_->data() + pos, len);
        return len;
    }
    size_t got = 0;
    while (got < len) {
        const ssize_t n = pread(fd_, out + got, len - got, static_cast<off_t>(pos + got));
        process_counters.reads.fetch_add(1, std::memory_order_relaxed);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    process_counters.bytes.fetch_add(got, std::memory_order_relaxed);
    return got;
}

FileReader FileReader::limited_to(uint64_t size) const {
    FileReader r = *this;
    r.size_ = std::min(size, size_);
    return r;
}

FileReader FileReader::with_bytes_at(uint64_t at, std::vector<unsigned char> bytes) const {
    FileReader r = *this;
    r.size_ = std::max(size_, at + bytes.size());
    r.patches_.push_back(std::make_shared<const Patch>(Patch{at, std::move(bytes)}));
    return r;
}
