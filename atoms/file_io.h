// Positioned file I/O. Every atom class appends its bytes to a BeWriter;
// these helpers place a whole buffer at a file position with one positioned
// write, so the file sees a handful of writes, not one per table entry. A
// failed write or a short count is a failure: no retry. Reads go on until
// the count is met or the file ends.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <vector>

bool write_buffer_at(int fd, off_t pos, const unsigned char* data, size_t len);
// Bytes read from pos on: len, or fewer when the file ends or a read fails.
size_t read_buffer_at(int fd, uint64_t pos, unsigned char* data, size_t len);

inline bool read_exact_at(int fd, uint64_t pos, std::vector<unsigned char>& buf) {
    return read_buffer_at(fd, pos, buf.data(), buf.size()) == buf.size();
}

inline bool write_buffer_at(int fd, off_t pos, const std::vector<unsigned char>& data) {
    return write_buffer_at(fd, pos, data.data(), data.size());
}
