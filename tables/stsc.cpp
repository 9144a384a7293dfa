#include "tables/stsc.h"

#include <cassert>

#include "atoms/fourcc.h"
#include "tables/table_body.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | u32 entry count
//   | entry count * {u32 first_chunk, u32 samples_per_chunk, u32 sample_description_index}

namespace {
constexpr size_t kRunBytes = 12;
}  // namespace

void qt_stsc_info::clear() {
    tbl.clear();
}

void qt_stsc_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const size_t n = read_table_header(r, kRunBytes);
    tbl.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        qt_sample_to_chunk_t run;
        run.first_chunk = r.u32();
        run.samples_per_chunk = r.u32();
        run.sample_description_index = r.u32();
        tbl.push_back(run);
    }
}

void qt_stsc_info::addChunk(uint64_t chunk_number, uint32_t samples,
                            uint32_t sample_description_index) {
    // The merger keeps a track's chunks within 32-bit numbers.
    assert(chunk_number <= UINT32_MAX);
    if (sample_description_index == 0) sample_description_index = 1;
    if (!tbl.empty()) {
        const qt_sample_to_chunk_t& last = tbl.back();
        // The last run already reaches every later chunk; it covers this one
        // when nothing that the run records changes.
        if (last.samples_per_chunk == samples &&
            last.sample_description_index == sample_description_index &&
            chunk_number > last.first_chunk) {
            return;
        }
    }
    tbl.push_back({static_cast<uint32_t>(chunk_number), samples, sample_description_index});
}

void qt_stsc_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("stsc"));
    w.version_flags(0, 0);
    w.count32(tbl.size());
    for (const qt_sample_to_chunk_t& run : tbl) {
        w.u32(run.first_chunk);
        w.u32(run.samples_per_chunk);
        w.u32(run.sample_description_index);
    }
    w.end_atom(start);
    assert(w.size() - start == 16 + kRunBytes * tbl.size());
}
