// The inline coverage counters of the whole program (all instrumented code
// is linked statically into one executable), for a harness that runs code in
// a forked child and has to carry the child's coverage back to the fuzzer.
#pragma once

#include <cstddef>
#include <cstdint>

// Null and 0 when the program has no counters.
uint8_t* coverage_counters();
size_t coverage_counters_size();
