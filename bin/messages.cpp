#include "bin/messages.h"

namespace {

const char* text(Msg m) {
    switch (m) {
        case Msg::none: return "";
        case Msg::not_quicktime: return "Not a quicktime file in general\n";
        case Msg::not_mp4: return "Not an MP4 file\n";
        case Msg::not_fragmented: return "Not a fragmented MP4 file\n";
        case Msg::holds_undo_record: return "File already holds an undo record\n";
        case Msg::moov_too_large: return "moov atom is too large\n";
        case Msg::failed_read_moov: return "Failed to read moov atom\n";
        case Msg::moov_overlaps_mdat: return "moov overlaps mdat\n";
        case Msg::moov_too_small: return "moov atom is too small for the undo record\n";
        case Msg::failed_read_moof: return "Failed to read moof atom\n";
        case Msg::track_timeline_too_long: return "Track timeline too long\n";
        case Msg::too_many_samples: return "Too many samples in one track\n";
        case Msg::new_moov_too_large: return "New moov atom is too large\n";
        case Msg::not_enough_info_to_undo: return "Not enough information to undo\n";
        case Msg::tolv_orig_not_found: return "TOLV+ORIG atom not found\n";
        case Msg::insufficient_info: return "Insufficient information to restore file\n";
        case Msg::omov_mismatch: return "OMOV offset value %llu != TOLV offset %llu\n";
        case Msg::omdt_mismatch: return "OMDT offset value %llu != mdat data area offset %llu\n";
        case Msg::mdat_past_original_size: return "mdat atom extends past original file size\n";
        case Msg::copy_not_beyond_original: return "relocated moov atom should have been placed beyond original file size\n";
        case Msg::mdat_not_after_tolv: return "'mdat' must immediately 'TOLV'\n";
        case Msg::omdt_not_at_mdat: return "OMDT offset does not point at original mdat atom\n";
        case Msg::omov_not_at_moov: return "OMOV offset does not point at original moov atom\n";
        case Msg::cannot_read_original_moov: return "Cannot read original moov atom\n";
        case Msg::tolv_does_not_fit:
            return "'TOLV' atom (if replaced by original moov atom) does not fit right up to 'mdat' atom\n";
        case Msg::failed_overwrite_mdat: return "Failed to overwrite mdat\n";
        case Msg::failed_append_saved_moov: return "Failed to append saved moov\n";
        case Msg::failed_overwrite_moov: return "Failed to overwrite moov\n";
        case Msg::failed_write_vers: return "Failed to write VERS\n";
        case Msg::failed_write_final_zero: return "Failed to write final zero\n";
        case Msg::failed_write_new_moov: return "Failed to write new moov atom\n";
        case Msg::failed_sync: return "Failed to sync file\n";
        case Msg::truncate_failed: return "File size truncate failed\n";
        case Msg::unable_to_restore_moov: return "Unable to restore moov atom header\n";
    }
    return "";
}

}  // namespace

void say_outcome(const Outcome& o) {
    // Texts with two values take them in order; the others ignore them.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
    say(text(o.msg), static_cast<unsigned long long>(o.a), static_cast<unsigned long long>(o.b));
#pragma GCC diagnostic pop
}
