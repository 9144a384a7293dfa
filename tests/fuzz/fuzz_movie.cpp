// The movie tree on its own: any moov body is parsed, its durations are
// rewritten and it is written out; the written movie must read back into a
// tree that writes exactly the same bytes.
//
// Input: one switch byte (see fuzz::write_options), then the moov body.
#include <cstddef>
#include <cstdint>

#include "movie/durations.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const WriteOptions options = fuzz::write_options(data[0]);

    qt_moov_info movie;
    movie.parse_atom_data(data + 1, size - 1);
    // The driver refuses a movie whose timeline does not fit.
    if (!rewrite_durations(movie, options)) return 0;
    fuzz::check_rewrite_is_stable(movie, options);
    return 0;
}
