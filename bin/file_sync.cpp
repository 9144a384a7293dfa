#include "bin/file_sync.h"

#include <unistd.h>

bool sync_file(int fd) { return fdatasync(fd) == 0; }
