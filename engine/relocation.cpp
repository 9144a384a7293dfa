#include "engine/relocation.h"

#include <cassert>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "engine/undo_record.h"

uint64_t mdat_header_size(uint64_t file_size, bool force_mdat64) {
    return (file_size >= kMdat64From || force_mdat64) ? 16 : 8;
}

Outcome check_moov_size(const AtomHeader& moov) {
    if (moov.end - moov.body() - 8 > kMaxMoovPayload - 8 || moov.header == 16) return {Msg::moov_too_large};
    return {};
}

Outcome check_moov_placement(const AtomHeader& moov, const AtomHeader& first_mdat, uint64_t file_size,
                             bool force_mdat64) {
    if (moov.end > first_mdat.start) return {Msg::moov_overlaps_mdat};
    if (moov.end - moov.body() < mdat_header_size(file_size, force_mdat64) + undo_record_room()) {
        return {Msg::moov_too_small};
    }
    return {};
}

RelocationPlan plan_relocation(const RelocationInput& in) {
    const std::vector<unsigned char>& payload = *in.moov_payload;
    const uint64_t M = in.moov_offset;
    const uint64_t N = payload.size();
    const uint64_t S = in.file_size;
    const uint64_t H = mdat_header_size(S, in.force_mdat64);
    assert(N >= H + undo_record_room());
    const uint64_t P = M + 8 + N - H;

    RelocationPlan plan;
    std::vector<unsigned char> mdat;
    BeWriter w(mdat);
    if (H == 16) {
        w.u32(1);
        w.u32(fourcc("mdat"));
        w.u64(S - P);
    } else {
        w.u32(static_cast<uint32_t>(S - P));
        w.u32(fourcc("mdat"));
    }
    plan.in_place.push_back({P, std::move(mdat), Msg::failed_overwrite_mdat});

    std::vector<unsigned char> copy = appended_head(N, in.debug_move_moov);
    plan.saved_moov_at = S + copy.size() - 8;
    copy.insert(copy.end(), payload.begin(), payload.end());
    plan.append_end = S + copy.size();
    plan.appended = {S, std::move(copy), Msg::failed_append_saved_moov};

    assert(N - H < 0xFFFFFFFFu);
    plan.in_place.push_back({M, tolv_header(N - H), Msg::failed_overwrite_moov});
    plan.in_place.push_back({M + 8, vers_atom(), Msg::failed_write_vers});
    const UndoRecord record{S, in.first_mdat_offset, M, plan.saved_moov_at};
    plan.in_place.push_back({M + 16 + vers_string().size(), orig_atom_and_end(record), Msg::failed_write_final_zero});
    return plan;
}
