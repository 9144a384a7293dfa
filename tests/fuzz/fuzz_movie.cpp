// The movie tree on its own: any moov body is parsed, its durations are
// rewritten and it is written out; the written movie must read back into a
// tree that writes exactly the same bytes.
//
// Input: one switch byte (see fuzz::set_debug_flags), then the moov body.
#include <cstddef>
#include <cstdint>

#include "atoms/durations.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fuzz::set_debug_flags(data[0]);

    qt_moov_info movie;
    movie.parse_atom_data(data + 1, size - 1);
    // The driver refuses a movie whose timeline does not fit.
    if (!rewrite_durations(movie)) return 0;
    const std::vector<unsigned char> written = fuzz::serialise(movie);
    fuzz::check_rewrite_is_stable(written);
    return 0;
}
