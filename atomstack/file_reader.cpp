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
    if (image_) {
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
