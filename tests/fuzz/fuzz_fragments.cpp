// The fragment merger: a moov body is parsed, one moof body is merged into it
// once or several times as if the file held that many copies of it in a row,
// the durations are rewritten and the movie is written. Every appended sample
// must get exactly one duration and one size, and the written movie must read
// back into a tree that writes the same bytes.
//
// Input, big-endian:
//    0  u16 length of the moov body that follows the header
//    2  u8  switches: bits 0-3 the debug writing modes, bits 4-5 the copies
//           of the moof beyond the first
//    3  u16 file offset of the first moof's header
//    5  u16 bytes of the file after each moof (its media data)
//    7  the moov body, then the moof body (the rest of the input)
// The file this describes stays small, as the fixtures are: the merger counts
// samples without sizes up to the end of the file, so a file of gigabytes
// makes gigabytes of table entries, which says nothing new on every input.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "movie/durations.h"
#include "atoms/saturating.h"
#include "fragments/merger.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr size_t kHeaderBytes = 7;

// Samples each track's duration and size tables count.
std::vector<std::pair<uint64_t, uint64_t>> table_counts(const qt_moov_info& movie) {
    std::vector<std::pair<uint64_t, uint64_t>> counts;
    for (const qt_track_info& t : movie.tracks) {
        counts.emplace_back(t.stbl().stts.sample_count(), t.stbl().stsz.sample_count());
    }
    return counts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderBytes) return 0;
    BeReader header(data, kHeaderBytes);
    const size_t declared_moov = header.u16();
    const uint8_t switches = header.u8();
    const uint64_t moof_offset = header.u16();
    const uint64_t media_bytes = header.u16();

    const unsigned char* rest = data + kHeaderBytes;
    const size_t rest_len = size - kHeaderBytes;
    const size_t moov_len = declared_moov < rest_len ? declared_moov : rest_len;
    const unsigned char* moof = rest + moov_len;
    const size_t moof_len = rest_len - moov_len;

    const WriteOptions options = fuzz::write_options(switches);
    const uint64_t copies = 1 + (switches / 16) % 4;
    // Each copy is the moof atom (header and body) followed by its media data.
    const uint64_t span = saturating_add(8 + moof_len, media_bytes);
    const uint64_t file_end = saturating_add(moof_offset, saturating_mul(span, copies));

    qt_moov_info movie;
    movie.parse_atom_data(rest, moov_len);
    // The driver refuses such a movie before any fragment is merged.
    if (movie.declares_too_many_samples()) return 0;
    const auto before = table_counts(movie);
    MergeBounds bounds{file_end, file_end};  // over every copy, as for the moofs of one file
    for (uint64_t i = 0; i < copies; ++i) {
        const uint64_t at = saturating_add(moof_offset, saturating_mul(span, i));
        (void)append_from_moof_atom(movie, moof, moof_len, at, bounds);
    }
    const auto after = table_counts(movie);
    for (size_t i = 0; i < before.size(); ++i) {
        fuzz::require(after[i].first - before[i].first == after[i].second - before[i].second,
                      "samples appended to stts and to stsz differ in number");
    }

    // The driver refuses a movie whose timeline does not fit.
    if (!rewrite_durations(movie, options)) return 0;
    const std::vector<unsigned char> written = fuzz::serialise(movie, options);
    fuzz::check_rewrite_is_stable(written, options);
    return 0;
}
