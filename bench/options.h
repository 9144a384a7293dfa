// The bench's command line.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BenchOptions {
    std::string tool;  // empty: look next to the bench binary
    std::string dir;   // empty: a fresh directory under $TMPDIR or /tmp
    std::vector<uint64_t> sizes{10000, 100000, 1000000};
    int repeat = 5;
    bool keep = false;
};

// -1 to go on, else the exit status (usage printed).
int parse_options(int argc, char** argv, BenchOptions& out);
