#include "atoms/file_io.h"

#include <unistd.h>

bool write_buffer_at(int fd, off_t pos, const unsigned char* data, size_t len) {
    if (pos < 0) return false;
    ssize_t n = pwrite(fd, data, len, pos);
    return n >= 0 && static_cast<size_t>(n) == len;
}
