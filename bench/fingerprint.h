// What must be the same before a conversion and after its undo: the size,
// the bytes of every written region, and the disk blocks in use (so no hole
// was filled in).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/synthetic_file.h"

struct Fingerprint {
    uint64_t size = 0;
    uint64_t blocks = 0;  // 512-byte units allocated
    uint64_t hash = 0;    // FNV-1a over the written regions
    bool ok = false;
};

Fingerprint take_fingerprint(const std::string& path, const std::vector<WrittenRegion>& regions);

// Writes the file's dirty pages to disk; false when it cannot.
bool flush_file(const std::string& path);

// Empty when equal, else what differs.
std::string compare_fingerprints(const Fingerprint& before, const Fingerprint& after);
