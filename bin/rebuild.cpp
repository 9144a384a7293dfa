#include "bin/rebuild.h"

#include "movie/durations.h"
#include "atoms/fourcc.h"
#include "bin/driver_state.h"
#include "bin/messages.h"
#include "fragments/merger.h"

namespace {

// A moof beyond this is not a real fragment; it is passed over.
constexpr uint64_t kMaxMoofPayload = 0x1FFFFFF;

// Every moof from the first one to the original end of the file, in file
// order. They lie in the region that the relocation leaves untouched, so
// their offsets hold before and after it.
std::vector<quicktime_atom> list_moofs() {
    quicktime_stack_empty(mp4_qt);
    quicktime_stack_push(mp4_qt, &mp4_first_moof);
    quicktime_atom* span = quicktime_stack_top(mp4_qt);
    span->absolute_data_offset = mp4_first_moof.start_offset;
    span->start_offset = mp4_first_moof.start_offset;
    span->end_offset = static_cast<uint64_t>(mp4_orig_len);
    span->data_length = span->end_offset - span->start_offset;
    span->is_64bit = 0;
    span->is_container = 1;
    span->reserved32 = 0;
    quicktime_stack_seek(mp4_qt, span, 0);

    std::vector<quicktime_atom> moofs;
    while (!quicktime_stack_eof(mp4_qt)) {
        quicktime_atom atom;
        if (!quicktime_stack_read_atom(mp4_qt, quicktime_stack_top(mp4_qt), &atom)) break;
        if (atom.type == fourcc("moof")) moofs.push_back(atom);
    }
    return moofs;
}

// False when a moof cannot be read whole: its samples would be missing
// without a word.
bool merge_fragments(MergeReport& total) {
    std::vector<quicktime_atom> moofs = list_moofs();
    std::vector<uint64_t> moof_starts;
    for (const quicktime_atom& m : moofs) moof_starts.push_back(m.start_offset);
    MergeBounds bounds{static_cast<uint64_t>(mp4_orig_len), static_cast<uint64_t>(mp4_orig_len)};
    bounds.moof_starts = &moof_starts;

    std::vector<unsigned char> buffer;
    for (quicktime_atom& atom : moofs) {
        if (atom.data_length == 0 || atom.data_length > kMaxMoofPayload) continue;
        buffer.resize(atom.data_length);
        long got = quicktime_stack_read(mp4_qt, &atom, buffer.data(), static_cast<long>(atom.data_length));
        if (got < 0 || static_cast<uint64_t>(got) != atom.data_length) return false;
        MergeReport r = append_from_moof_atom(mp4_moov_info, buffer.data(), buffer.size(), atom.start_offset, bounds,
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

int build_new_movie(std::vector<unsigned char>& out, MergeReport& merged) {
    mp4_moov_info.parse_atom_data(mp4_saved_moov_data.data(), mp4_saved_moov_data.size());
    if (mp4_moov_info.declares_too_many_samples()) {
        say("moov atom is too large\n");
        return 1;
    }
    if (!merge_fragments(merged)) {
        say("Failed to read moof atom\n");
        return 1;
    }
    const WriteOptions options{dbg_force_mvhd_v1, dbg_force_tkhd_v1, dbg_force_mdhd_v1, dbg_force_co64};
    if (!rewrite_durations(mp4_moov_info, options)) {
        say("Track timeline too long\n");
        return 1;
    }
    out.clear();
    BeWriter w(out);
    mp4_moov_info.write_into(w, options);
    // Table fields and atom sizes are 32-bit inside the movie atom; wrapped,
    // they would describe other samples than the file holds.
    if (merged.too_many_samples || w.count_overflowed()) {
        say("Too many samples in one track\n");
        return 1;
    }
    if (w.size_overflowed() || out.size() > UINT32_MAX) {
        say("New moov atom is too large\n");
        return 1;
    }
    return -1;
}

void say_merge_warnings(const MergeReport& merged) {
    for (uint32_t id : mp4_moov_info.unmatched_trex_ids) {
        say("'trex' atom warning: Unable to find track with ID %u\n", id);
    }
    for (uint64_t i = 0; i < merged.unlocated_trafs; ++i) say("moof: unable to locate track\n");
    if (merged.samples_left_out > 0) {
        say("Left out %llu samples that lie past the end of the file\n",
            static_cast<unsigned long long>(merged.samples_left_out));
    }
}
