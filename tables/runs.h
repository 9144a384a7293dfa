// Run-length tables ({count, value} runs in sample order: stts, ctts) cut
// down to their first samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Keeps the runs that hold the first n samples, the last of them shortened
// to end at the n-th; runs of no samples before it stay, as read.
template <typename Run>
void keep_first_samples(std::vector<Run>& runs, uint64_t n) {
    size_t kept = 0;
    while (kept < runs.size() && n > 0) {
        Run& run = runs[kept++];
        if (run.count >= n) {
            run.count = static_cast<uint32_t>(n);
            break;
        }
        n -= run.count;
    }
    runs.resize(kept);
}
