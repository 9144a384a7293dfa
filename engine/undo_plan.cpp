#include "engine/undo_plan.h"

#include <algorithm>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "atomstack/top_level_walk.h"
#include "engine/relocation.h"
#include "engine/scan.h"
#include "engine/undo_record.h"

namespace {

// An atom header of the given type at the offset: a 32-bit size above 8, or,
// where the open forms are allowed, size 0 (to the end of the file), any size
// of at least 8, or size 1 with a 64-bit size of at least 16.
bool header_intact_at(TopLevelWalk& walk, uint64_t offset, uint32_t type, bool allow_open_forms) {
    ByteSpan h;
    if (!walk.bytes(offset, 8, h) || be::read_u32(h.data + 4) != type) return false;
    const uint32_t size = be::read_u32(h.data);
    if (!allow_open_forms) return size > 8;
    if (size != 1) return size == 0 || size >= 8;
    return walk.bytes(offset, 16, h) && be::read_u64(h.data + 8) >= 16;
}

// The saved moov's payload, read through its own header; false when there is
// no moov atom there or it cannot be read whole.
bool read_saved_moov(TopLevelWalk& walk, uint64_t at, std::vector<unsigned char>& payload) {
    AtomHeader moov;
    ByteSpan bytes;
    const size_t head = static_cast<size_t>(std::min<uint64_t>(kMaxAtomHeader, walk.end() - std::min(at, walk.end())));
    // A conversion never saves more than 16 MiB of moov payload.
    if (!walk.bytes(at, head, bytes) || read_atom_header(bytes.data, bytes.len, at, walk.end(), moov) != HeaderRead::ok ||
        moov.type != fourcc("moov") || moov.end > walk.end() ||
        moov.end - moov.body() > kMaxMoovPayload || !walk.bytes(moov.body(), moov.end - moov.body(), bytes)) {
        return false;
    }
    payload.assign(bytes.data, bytes.data + bytes.len);
    return true;
}

UndoPlan refused(Msg msg, uint64_t a = 0, uint64_t b = 0) {
    UndoPlan p;
    p.refusal = Outcome{msg, a, b};
    return p;
}

}  // namespace

UndoPlan plan_undo(const FileReader& file) {
    TopLevelWalk walk(file, 0, file.size());
    FoundAtom tolv, mdat, moov;
    std::vector<unsigned char> record;
    AtomHeader a;
    while (walk.next(a)) {
        FoundAtom* slot = a.type == fourcc("TOLV") ? &tolv : a.type == fourcc("mdat") ? &mdat
                          : a.type == fourcc("moov") ? &moov : nullptr;
        if (slot == nullptr || slot->found) continue;
        *slot = FoundAtom{true, a};
        ByteSpan payload;
        // The in-place record is never longer than the moov it replaced.
        if (slot == &tolv && walk.payload(a, kMaxMoovPayload, payload)) record.assign(payload.data, payload.data + payload.len);
    }
    if (!tolv.found || !mdat.found || !moov.found) return refused(Msg::not_enough_info_to_undo);

    UndoRecord rec;
    if (!decode_undo_record(record.data(), record.size(), rec)) return refused(Msg::tolv_orig_not_found);
    if (!rec.complete()) return refused(Msg::insufficient_info);

    // The file must still have the layout the conversion left: the record
    // where the moov stood, the new mdat right after it covering the original
    // content, the saved moov beyond the original end.
    const AtomHeader& t = tolv.atom;
    const AtomHeader& m = mdat.atom;
    if (rec.orig_moov != t.start) return refused(Msg::omov_mismatch, rec.orig_moov, t.start);
    // Whatever followed the old moov lies inside the new mdat, at or after
    // its data start.
    if (rec.orig_mdat < m.body() || rec.orig_mdat >= rec.orig_size) {
        return refused(Msg::omdt_mismatch, rec.orig_mdat, m.body());
    }
    if (m.end > rec.orig_size) return refused(Msg::mdat_past_original_size);
    if (m.end > rec.saved_moov_at || rec.saved_moov_at < rec.orig_size) return refused(Msg::copy_not_beyond_original);
    if (t.end != m.start) return refused(Msg::mdat_not_after_tolv);
    if (!header_intact_at(walk, rec.orig_mdat, fourcc("mdat"), true)) return refused(Msg::omdt_not_at_mdat);
    if (!header_intact_at(walk, rec.saved_moov_at, fourcc("moov"), false)) return refused(Msg::omov_not_at_moov);

    std::vector<unsigned char> payload;
    if (!read_saved_moov(walk, rec.saved_moov_at, payload)) return refused(Msg::cannot_read_original_moov);
    if (m.body() != t.body() + payload.size()) return refused(Msg::tolv_does_not_fit);

    UndoPlan plan;
    plan.moov_offset = rec.orig_moov;
    plan.restored_moov = moov_atom_bytes(payload);
    plan.copy_offset = rec.saved_moov_at;
    plan.orig_size = rec.orig_size;
    return plan;
}
