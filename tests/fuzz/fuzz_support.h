// Shared by the in-process fuzz targets: the switch byte that picks the
// debug writing modes, and the check that a written movie reads back into a
// tree that writes the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "atoms/write_options.h"
#include "movie/moov.h"

namespace fuzz {

inline void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// The low four bits of one input byte turn the 64-bit writing modes on, so
// every input is tried with a fixed choice of them.
inline WriteOptions write_options(uint8_t switches) {
    return WriteOptions{(switches & 1) != 0, (switches & 2) != 0, (switches & 4) != 0, (switches & 8) != 0};
}

inline std::vector<unsigned char> written(const qt_moov_info& movie, const WriteOptions& options) {
    std::vector<unsigned char> out;
    BeWriter w(out);
    movie.write_into(w, options);
    return out;
}

// The movie is written, its header checked against the bytes, and read back:
// written again with no change in between, it must come out the same.
inline void check_rewrite_is_stable(const qt_moov_info& movie, const WriteOptions& options) {
    const std::vector<unsigned char> first = written(movie, options);
    require(first.size() >= 8 && be::read_u32(first.data()) == first.size() &&
                be::read_u32(first.data() + 4) == fourcc("moov"),
            "written moov header");
    qt_moov_info again;
    again.parse_atom_data(first.data() + 8, first.size() - 8);
    require(written(again, options) == first, "write(parse(written movie)) differs from the written movie");
}

}  // namespace fuzz
