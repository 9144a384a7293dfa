// Durability points of the in-place writes: data written before a sync
// survives a crash that happens after it.
#pragma once

bool sync_file(int fd);
