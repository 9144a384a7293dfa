// The movie tree on its own: any moov body is parsed, its durations are
// rewritten and it is written out; the written movie must read back into a
// tree that writes exactly the same bytes.
//
// Input: one switch byte (see fuzz::check_written_movie), then the moov body.
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    qt_moov_info movie;
    movie.parse_atom_data(data + 1, size - 1);
    fuzz::check_written_movie(movie, data[0]);
    return 0;
}
