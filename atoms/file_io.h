// Positioned writes. Every atom class appends its bytes to a BeWriter;
// these helpers place a whole buffer at a file position with one positioned
// write, so the file sees a handful of writes, not one per table entry. A
// failed write or a short count is a failure: no retry. (Reads go through
// atomstack/file_reader.h.)
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

bool write_buffer_at(int fd, off_t pos, const unsigned char* data, size_t len);

inline bool write_buffer_at(int fd, off_t pos, const std::vector<unsigned char>& data) {
    return write_buffer_at(fd, pos, data.data(), data.size());
}
