// The one way the program reads its file: positioned reads (pread), never a
// mapping, counted so that the cost of a run can be told from the run
// itself. A reader may also stand for a byte image held in memory (the
// tests'), be limited to the file's first bytes, as a file cut there would
// read, or show bytes written over the file without writing them.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct ReadCounters {
    std::atomic<uint64_t> reads{0};  // read calls made of the file
    std::atomic<uint64_t> bytes{0};  // bytes they returned
};

class FileReader {
public:
    // The open file `fd`, taken as `size` bytes long.
    FileReader(int fd, uint64_t size);
    // A byte image; the reader keeps it alive.
    explicit FileReader(std::vector<unsigned char> image);

    uint64_t size() const { return size_; }
    // Bytes read from `pos` on: `len`, or fewer where the file (or the
    // limit) ends or a read fails.
    size_t read(uint64_t pos, unsigned char* out, size_t len) const;
    bool read_exact(uint64_t pos, std::vector<unsigned char>& out) const {
        return read(pos, out.data(), out.size()) == out.size();
    }
    // The same file seen only up to `size` bytes.
    FileReader limited_to(uint64_t size) const;
    // The same file as it reads once `bytes` are written at `at`: what a
    // run would leave, seen without writing (a dry run). The file grows to
    // hold them where they reach past its end.
    FileReader with_bytes_at(uint64_t at, std::vector<unsigned char> bytes) const;

    // Every read of a file this process has made through a reader.
    static const ReadCounters& counters();

private:
    struct Patch {
        uint64_t at;
        std::vector<unsigned char> bytes;
    };
    size_t read_underneath(uint64_t pos, unsigned char* out, size_t len) const;

    int fd_ = -1;
    std::shared_ptr<const std::vector<unsigned char>> image_;
    uint64_t size_ = 0;
    std::vector<std::shared_ptr<const Patch>> patches_;  // applied in order over the file
};
