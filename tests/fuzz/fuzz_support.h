// Shared by the in-process fuzz targets: the end of every run, where the
// movie's durations are rewritten and the movie written, with the debug
// writing modes an input byte picks; the written movie must read back into a
// tree that writes the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "atoms/write_options.h"
#include "movie/durations.h"
#include "movie/moov.h"

namespace fuzz {

inline void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The low four bits of `switches` turn the 64-bit writing modes on.
inline void check_written_movie(qt_moov_info& movie, uint8_t switches) {
    const WriteOptions options{(switches & 1) != 0, (switches & 2) != 0, (switches & 4) != 0, (switches & 8) != 0};
    // The driver refuses a movie whose timeline does not fit.
    if (!rewrite_durations(movie, options)) return;
    std::vector<unsigned char> first, second;
    BeWriter w(first), w2(second);
    movie.write_into(w, options);
    require(first.size() >= 8 && be::read_u32(first.data()) == first.size() &&
                be::read_u32(first.data() + 4) == fourcc("moov"),
            "written moov header");
    qt_moov_info again;
    again.parse_atom_data(first.data() + 8, first.size() - 8);
    again.write_into(w2, options);
    require(second == first, "write(parse(written movie)) differs from the written movie");
}

}  // namespace fuzz
