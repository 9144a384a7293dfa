#include "engine/undo_plan.h"

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "engine/relocation.h"
#include "engine/scan.h"
#include "engine/undo_record.h"

namespace {

// An atom header of the given type at the offset: a 32-bit size above 8, or,
// where the open forms are allowed, size 0 (to the end of the file), any size
// of at least 8, or size 1 with a 64-bit size of at least 16.
bool header_intact_at(quicktime_stack* qt, uint64_t offset, uint32_t type, bool allow_open_forms) {
    unsigned char h[16];
    quicktime_stack_empty(qt);
    quicktime_atom* root = quicktime_stack_top(qt);
    quicktime_stack_seek(qt, root, static_cast<long>(offset));
    const long got = quicktime_stack_read(qt, root, h, 16);
    if (got < 8 || be::read_u32(h + 4) != type) return false;
    const uint32_t size = be::read_u32(h);
    if (!allow_open_forms) return size > 8;
    if (size == 1) return got == 16 && be::read_u64(h + 8) >= 16;
    return size == 0 || size >= 8;
}

// The saved moov's payload, read through its own header; false when there is
// no moov atom there or it cannot be read whole.
bool read_saved_moov(quicktime_stack* qt, uint64_t at, std::vector<unsigned char>& payload) {
    quicktime_stack_empty(qt);
    quicktime_atom* root = quicktime_stack_top(qt);
    quicktime_stack_seek(qt, root, static_cast<long>(at));
    quicktime_atom moov;
    // A conversion never saves more than 16 MiB of moov payload.
    if (!quicktime_stack_read_atom(qt, root, &moov) || moov.type != fourcc("moov") ||
        moov.data_length > kMaxMoovPayload) {
        return false;
    }
    return quicktime_read_payload(qt, moov, payload);
}

UndoPlan refused(Msg msg, uint64_t a = 0, uint64_t b = 0) {
    UndoPlan p;
    p.refusal = Outcome{msg, a, b};
    return p;
}

}  // namespace

UndoPlan plan_undo(quicktime_stack* qt) {
    quicktime_atom tolv, mdat, moov;
    quicktime_walk(qt, nullptr, [&](const quicktime_atom& a) {
        if (a.type == fourcc("TOLV") && !atom_found(tolv)) tolv = a;
        else if (a.type == fourcc("mdat") && !atom_found(mdat)) mdat = a;
        else if (a.type == fourcc("moov") && !atom_found(moov)) moov = a;
        return true;
    });
    if (!atom_found(tolv) || !atom_found(mdat) || !atom_found(moov)) return refused(Msg::not_enough_info_to_undo);

    UndoRecord rec;
    if (!read_undo_record(qt, tolv, rec)) return refused(Msg::tolv_orig_not_found);
    if (!rec.complete()) return refused(Msg::insufficient_info);

    // The file must still have the layout the conversion left: the record
    // where the moov stood, the new mdat right after it covering the original
    // content, the saved moov beyond the original end.
    if (rec.orig_moov != tolv.start_offset) return refused(Msg::omov_mismatch, rec.orig_moov, tolv.start_offset);
    // Whatever followed the old moov lies inside the new mdat, at or after
    // its data start.
    if (rec.orig_mdat < mdat.absolute_data_offset || rec.orig_mdat >= rec.orig_size) {
        return refused(Msg::omdt_mismatch, rec.orig_mdat, mdat.absolute_data_offset);
    }
    const uint64_t mdat_end = mdat.absolute_data_offset + mdat.data_length;
    if (mdat_end > rec.orig_size) return refused(Msg::mdat_past_original_size);
    if (mdat_end > rec.saved_moov_at || rec.saved_moov_at < rec.orig_size) return refused(Msg::copy_not_beyond_original);
    if (tolv.absolute_data_offset + tolv.data_length != mdat.start_offset) return refused(Msg::mdat_not_after_tolv);
    if (!header_intact_at(qt, rec.orig_mdat, fourcc("mdat"), true)) return refused(Msg::omdt_not_at_mdat);
    if (!header_intact_at(qt, rec.saved_moov_at, fourcc("moov"), false)) return refused(Msg::omov_not_at_moov);

    std::vector<unsigned char> payload;
    if (!read_saved_moov(qt, rec.saved_moov_at, payload)) return refused(Msg::cannot_read_original_moov);
    if (mdat.absolute_data_offset != tolv.absolute_data_offset + payload.size()) return refused(Msg::tolv_does_not_fit);

    UndoPlan plan;
    plan.moov_offset = rec.orig_moov;
    plan.restored_moov = moov_atom_bytes(payload);
    plan.copy_offset = rec.saved_moov_at;
    plan.orig_size = rec.orig_size;
    return plan;
}
