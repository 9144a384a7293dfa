// Shared by the in-process fuzz targets: the switch byte that picks the
// debug writing modes, serialisation of a movie tree, and the check that a
// written movie reads back into a tree that writes the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "atoms/be.h"
#include "atoms/write_options.h"
#include "atoms/fourcc.h"
#include "movie/moov.h"

namespace fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

inline void require(bool ok, const char* what) {
    if (!ok) fail(what);
}

// The low four bits of one input byte turn the 64-bit writing modes on, so
// every input is tried with a fixed choice of them.
inline WriteOptions write_options(uint8_t switches) {
    return WriteOptions{(switches & 0x1) != 0, (switches & 0x2) != 0, (switches & 0x4) != 0, (switches & 0x8) != 0};
}

// The whole moov atom, header first; checks the header against the bytes.
inline std::vector<unsigned char> serialise(const qt_moov_info& movie, const WriteOptions& options) {
    std::vector<unsigned char> out;
    BeWriter w(out);
    movie.write_into(w, options);
    require(out.size() >= 8, "written moov shorter than its header");
    require(be::read_u32(out.data()) == out.size(), "written moov size field");
    require(be::read_u32(out.data() + 4) == fourcc("moov"), "written moov type");
    return out;
}

inline void report_divergence(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    size_t at = 0;
    while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
    std::fprintf(stderr, "first write %zu bytes, second %zu bytes, first difference at byte %zu\n", a.size(),
                 b.size(), at);
}

// A written movie, read again and written with no change in between, must
// come out byte for byte the same.
inline void check_rewrite_is_stable(const std::vector<unsigned char>& written, const WriteOptions& options) {
    qt_moov_info again;
    again.parse_atom_data(written.data() + 8, written.size() - 8);
    const std::vector<unsigned char> rewritten = serialise(again, options);
    if (rewritten != written) {
        report_divergence(written, rewritten);
        fail("write(parse(written movie)) differs from the written movie");
    }
}

}  // namespace fuzz
