#include "atoms/file_io.h"

#include <unistd.h>

bool write_buffer_at(int fd, off_t pos, const unsigned char* data, size_t len) {
    if (pos < 0) return false;
    ssize_t n = pwrite(fd, data, len, pos);
    return n >= 0 && static_cast<size_t>(n) == len;
}

size_t read_buffer_at(int fd, uint64_t pos, unsigned char* data, size_t len) {
    size_t got = 0;
    while (got < len && pos + got <= static_cast<uint64_t>(INT64_MAX)) {
        ssize_t n = pread(fd, data + got, len - got, static_cast<off_t>(pos + got));
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}
