// The fragment merger: a moov body is parsed, one moof body is merged into it
// once or several times as if the file held that many copies of it in a row,
// the durations are rewritten and the movie is written. Each track's tables
// must agree on its number of samples, as read and after the merge, and the
// written movie must read back into a tree that writes the same bytes.
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
#include <algorithm>

#include "atoms/saturating.h"
#include "fragments/merger.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    BeReader header(data, 7);
    const size_t declared_moov = header.u16();
    const uint8_t switches = header.u8();
    const uint64_t moof_offset = header.u16(), media_bytes = header.u16(), copies = 1 + (switches / 16) % 4;
    const size_t moov_len = std::min(declared_moov, size - 7), moof_len = size - 7 - moov_len;
    const unsigned char* moof = data + 7 + moov_len;

    // Each copy is the moof atom (header and body) followed by its media data.
    const uint64_t span = saturating_add(8 + moof_len, media_bytes);
    const uint64_t file_end = saturating_add(moof_offset, saturating_mul(span, copies));

    qt_moov_info movie;
    movie.parse_atom_data(data + 7, moov_len);
    // The driver refuses such a movie before any fragment is merged.
    if (movie.declares_too_many_samples()) return 0;
    const auto check_tables_agree = [&] {
        for (const qt_track_info& t : movie.tracks) {
            const qt_stbl_info& s = t.stbl();
            fuzz::require(s.stts.sample_count() == s.stsz.sample_count() &&
                              s.stts.sample_count() == s.stsc.samples_in(s.stco.tbl.size()),
                          "stts, stsz and the chunks describe different numbers of samples");
        }
    };
    check_tables_agree();
    MergeBounds bounds{file_end, file_end};  // over every copy, as for the moofs of one file
    for (uint64_t i = 0; i < copies; ++i)
        (void)append_from_moof_atom(movie, moof, moof_len, saturating_add(moof_offset, saturating_mul(span, i)), bounds);
    check_tables_agree();
    fuzz::check_written_movie(movie, switches);
    return 0;
}
