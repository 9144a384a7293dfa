#include "tables/stsc.h"

#include <algorithm>
#include <cassert>

#include "atoms/fourcc.h"
#include "atoms/saturating.h"
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

std::vector<qt_stsc_info::Span> qt_stsc_info::spans(uint64_t chunk_count) const {
    std::vector<Span> out;
    uint64_t next = 1;  // the first chunk that no run covers yet
    for (size_t i = 0; i < tbl.size() && next <= chunk_count; ++i) {
        const uint64_t begin = out.empty() ? 1 : std::max<uint64_t>(tbl[i].first_chunk, next);
        const uint64_t end = i + 1 < tbl.size() ? std::min<uint64_t>(tbl[i + 1].first_chunk, chunk_count + 1)
                                                : chunk_count + 1;
        if (begin >= end) continue;
        out.push_back({{static_cast<uint32_t>(begin), tbl[i].samples_per_chunk, tbl[i].sample_description_index},
                       end - begin});
        next = end;
    }
    return out;
}

uint64_t qt_stsc_info::samples_in(uint64_t chunk_count) const {
    uint64_t samples = 0;
    for (const Span& s : spans(chunk_count)) {
        samples = saturating_add(samples, saturating_mul(s.chunks, s.run.samples_per_chunk));
    }
    return samples;
}

uint64_t qt_stsc_info::keep_samples(uint64_t n, uint64_t chunk_count) {
    const std::vector<Span> read = spans(chunk_count);
    tbl.clear();
    uint64_t chunks = 0;
    for (const Span& s : read) {
        const uint64_t samples = saturating_mul(s.chunks, s.run.samples_per_chunk);
        if (samples <= n) {
            tbl.push_back(s.run);
            chunks += s.chunks;
            n -= samples;
            continue;
        }
        // The n-th sample lies in this run: whole chunks up to it, then the
        // rest in one more chunk.
        const uint64_t whole = n / s.run.samples_per_chunk;
        const uint32_t rest = static_cast<uint32_t>(n % s.run.samples_per_chunk);
        if (whole > 0) tbl.push_back(s.run);
        if (rest > 0) {
            tbl.push_back({static_cast<uint32_t>(s.run.first_chunk + whole), rest, s.run.sample_description_index});
        }
        return chunks + whole + (rest > 0 ? 1 : 0);
    }
    return chunks;
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
