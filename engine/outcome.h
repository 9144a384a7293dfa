// Why the engine will not go on: every refusal and failure it can decide,
// with the values its message shows. The driver turns each into its line of
// text; nothing below the driver prints.
#pragma once

#include <cstdint>

enum class Msg {
    none,
    // The top-level scan; the driver prints the offsets of two atoms after it.
    not_quicktime,
    not_mp4,
    not_fragmented,
    holds_undo_record,
    // The conversion's checks before the first write.
    moov_too_large,
    failed_read_moov,
    moov_overlaps_mdat,
    moov_too_small,
    failed_read_moof,
    track_timeline_too_long,
    too_many_samples,
    new_moov_too_large,
    // The undo's checks of the record against the file.
    not_enough_info_to_undo,
    tolv_orig_not_found,
    insufficient_info,
    omov_mismatch,  // values: the OMOV offset, the TOLV offset
    omdt_mismatch,  // values: the OMDT offset, the mdat data offset
    mdat_past_original_size,
    copy_not_beyond_original,
    mdat_not_after_tolv,
    omdt_not_at_mdat,
    omov_not_at_moov,
    cannot_read_original_moov,
    tolv_does_not_fit,
    // Writes that failed.
    failed_overwrite_mdat,
    failed_append_saved_moov,
    failed_overwrite_moov,
    failed_write_vers,
    failed_write_final_zero,
    failed_write_new_moov,
    failed_sync,
    truncate_failed,
    unable_to_restore_moov,
};

struct Outcome {
    Msg msg = Msg::none;
    uint64_t a = 0, b = 0;

    bool ok() const { return msg == Msg::none; }
};
