#include "engine/rebuild.h"

#include <algorithm>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "movie/durations.h"

namespace {

// A moof beyond this is not a real fragment; it is passed over.
constexpr uint64_t kMaxMoofPayload = 0x1FFFFFF;

// Every moof from the first one to the original end of the file, in file
// order. They lie in the region that the relocation leaves untouched, so
// their offsets hold before and after it.
std::vector<quicktime_atom> list_moofs(quicktime_stack* qt, const quicktime_atom& first_moof, uint64_t file_size) {
    quicktime_atom span = first_moof;
    span.absolute_data_offset = first_moof.start_offset;
    span.end_offset = file_size;
    span.data_length = span.end_offset - span.start_offset;
    span.is_64bit = 0;
    span.is_container = 1;
    std::vector<quicktime_atom> moofs;
    quicktime_walk(qt, &span, [&](const quicktime_atom& atom) {
        if (atom.type == fourcc("moof")) moofs.push_back(atom);
        return true;
    });
    return moofs;
}

// A moof cut off by the end of the file (a recording that stopped while its
// fragment was being written) is merged as far as it goes: the children cut
// off are shortened to what is there, so that their samples count as left
// out rather than vanish.
void shorten_cut_children(unsigned char* body, size_t len) {
    size_t at = 0;
    while (len - at >= 8) {
        uint32_t size = be::read_u32(body + at);
        if (size < 8) return;
        if (size > len - at) {
            size = static_cast<uint32_t>(len - at);
            be::put_u32(body + at, size);
            if (be::read_u32(body + at + 4) == fourcc("traf")) shorten_cut_children(body + at + 8, size - 8);
            return;
        }
        at += size;
    }
}

// False when a moof cannot be read whole although the file holds it: its
// samples would be missing without a word.
bool merge_fragments(quicktime_stack* qt, qt_moov_info& movie, const quicktime_atom& first_moof, uint64_t file_size,
                     MergeReport& total) {
    std::vector<quicktime_atom> moofs = list_moofs(qt, first_moof, file_size);
    std::vector<uint64_t> moof_starts;
    for (const quicktime_atom& m : moofs) moof_starts.push_back(m.start_offset);
    MergeBounds bounds{file_size, file_size};
    bounds.moof_starts = &moof_starts;

    std::vector<unsigned char> buffer;
    for (quicktime_atom& atom : moofs) {
        if (atom.data_length == 0 || atom.data_length > kMaxMoofPayload) continue;
        const uint64_t held = std::min(atom.end_offset, file_size) - atom.absolute_data_offset;
        buffer.resize(atom.data_length);
        const long got = quicktime_stack_read(qt, &atom, buffer.data(), static_cast<long>(atom.data_length));
        if (got < 0 || static_cast<uint64_t>(got) != held) return false;
        buffer.resize(held);
        if (held < atom.data_length) shorten_cut_children(buffer.data(), buffer.size());
        const MergeReport r = append_from_moof_atom(movie, buffer.data(), buffer.size(), atom.start_offset, bounds,
                                                    static_cast<unsigned>(atom.absolute_data_offset - atom.start_offset));
        total.unlocated_trafs += r.unlocated_trafs;
        total.samples_left_out += r.samples_left_out;
        if (r.too_many_samples) {
            total.too_many_samples = true;  // refused: no point merging on
            break;
        }
    }
    return true;
}

}  // namespace

NewMovie build_new_movie(quicktime_stack* qt, qt_moov_info& movie, const std::vector<unsigned char>& moov_payload,
                         const quicktime_atom& first_moof, uint64_t file_size, const WriteOptions& options) {
    NewMovie out;
    movie.parse_atom_data(moov_payload.data(), moov_payload.size());
    if (movie.declares_too_many_samples()) {
        out.refusal = {Msg::moov_too_large};
        return out;
    }
    if (!merge_fragments(qt, movie, first_moof, file_size, out.merged)) {
        out.refusal = {Msg::failed_read_moof};
        return out;
    }
    if (!rewrite_durations(movie, options)) {
        out.refusal = {Msg::track_timeline_too_long};
        return out;
    }
    BeWriter w(out.atom);
    movie.write_into(w, options);
    // Table fields and atom sizes are 32-bit inside the movie atom; wrapped,
    // they would describe other samples than the file holds.
    if (out.merged.too_many_samples || w.count_overflowed()) {
        out.refusal = {Msg::too_many_samples};
    } else if (w.size_overflowed() || out.atom.size() > UINT32_MAX) {
        out.refusal = {Msg::new_moov_too_large};
    }
    return out;
}
