// The printed results: one table row per file, then each target with the
// figures that decide it.
#pragma once

#include <vector>

#include "bench/bench_case.h"

void print_table(const std::vector<CaseResult>& results);

// True when every target was measured and met.
bool print_targets(const std::vector<CaseResult>& results);
