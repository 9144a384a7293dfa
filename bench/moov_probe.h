// Reads back how many samples the new movie atom of a converted file
// describes, track by track, walking atom headers only (the bench keeps its
// own memory small, since a child's peak memory is measured).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Sample counts from each track's stsz, in track order; false when the file
// has no readable top-level moov.
bool probe_sample_counts(const std::string& path, std::vector<uint64_t>& counts);
