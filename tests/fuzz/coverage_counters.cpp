// The inline coverage counters of the whole program (all instrumented code
// is linked statically into one executable), for fuzz_convert, which runs
// the tool in a forked child and carries the child's coverage back.
#include <cstddef>
#include <cstdint>

// The linker marks the bounds of the counters' section. The instrumentation
// declares these two symbols itself in every instrumented file and renames
// its own if the file already declares them, which would leave that file's
// counters unregistered; so this file holds only uninstrumented functions.
extern "C" __attribute__((weak, visibility("hidden"))) uint8_t __start___sancov_cntrs;
extern "C" __attribute__((weak, visibility("hidden"))) uint8_t __stop___sancov_cntrs;

__attribute__((no_sanitize("coverage"))) size_t coverage_counters_size() {
    auto lo = reinterpret_cast<uintptr_t>(&__start___sancov_cntrs), hi = reinterpret_cast<uintptr_t>(&__stop___sancov_cntrs);
    return lo != 0 && hi > lo ? hi - lo : 0;
}

__attribute__((no_sanitize("coverage"))) uint8_t* coverage_counters() {
    return coverage_counters_size() != 0 ? &__start___sancov_cntrs : nullptr;
}
