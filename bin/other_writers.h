// Other programs that have a file open for writing, as /proc shows them: the
// fallback where a file lease cannot be had. It sees only the processes of
// this machine that this one may inspect (its own user's, or every one for
// root), and a file mapped for writing whose descriptor was closed is not
// seen at all.
#pragma once

#include <sys/types.h>

// True when a process other than this one holds a descriptor open for
// writing (O_WRONLY or O_RDWR) on the file with this device and inode.
bool another_process_writes(dev_t dev, ino_t ino);
