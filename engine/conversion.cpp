#include "engine/conversion.h"

#include "engine/rebuild.h"
#include "engine/undo_record.h"

ConversionPlan plan_conversion(quicktime_stack* qt, qt_moov_info& movie, const ConversionInput& in) {
    ConversionPlan p;
    p.scan = scan_file(qt);
    if (p.scan.verdict != Msg::none) {
        p.refusal = {p.scan.verdict};
        return p;
    }
    const quicktime_atom& moov = p.scan.moov;
    p.refusal = check_moov_size(moov);
    if (!p.refusal.ok()) return p;
    if (!quicktime_read_payload(qt, moov, p.moov_payload)) {
        p.refusal = {Msg::failed_read_moov};
        return p;
    }
    p.refusal = check_moov_placement(moov, p.scan.mdat, in.file_size, in.force_mdat64);
    if (!p.refusal.ok()) return p;

    if (!in.debug_move_moov) {
        NewMovie m = build_new_movie(qt, movie, p.moov_payload, p.scan.first_moof, in.file_size, in.write);
        p.refusal = m.refusal;
        if (!p.refusal.ok()) return p;
        p.new_moov = std::move(m.atom);
        p.merged = m.merged;
    }
    p.relocation = plan_relocation(RelocationInput{moov.start_offset, p.scan.mdat.start_offset, in.file_size,
                                                   in.force_mdat64, in.debug_move_moov, &p.moov_payload});
    p.original_moov = moov_atom_bytes(p.moov_payload);
    p.new_moov_at = p.relocation.append_end;
    p.journal = make_journal(JournalOp::convert, p.new_moov_at + p.new_moov.size(), in.file_size, moov.start_offset,
                             p.original_moov, p.relocation.saved_moov_at);
    return p;
}
