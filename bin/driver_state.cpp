#include "bin/driver_state.h"

#include "bin/messages.h"

std::string mp4_file;
ExclusiveFile mp4_access;
int mp4_fd = -1;
quicktime_stack* mp4_qt = nullptr;
bool do_undo = false;
bool dry_run = false;
bool dbg_force_mvhd_v1 = false;
bool dbg_force_tkhd_v1 = false;
bool dbg_force_mdhd_v1 = false;
bool dbg_force_co64 = false;
bool dbg_force_mdat64 = false;
bool debug_move_moov = false;
bool dbg_count_reads = false;
off_t mp4_orig_len = 0;
qt_moov_info mp4_moov_info;

int claim_writes(uint64_t expected_size) {
    // A dry run sees the file as the runs before would have left it, but on
    // disk it is still as it was found.
    const FileAccess a = dry_run ? mp4_access.still_alone(static_cast<uint64_t>(mp4_orig_len))
                                 : mp4_access.make_writable(expected_size);
    if (a == FileAccess::ok) return -1;
    say("%s", access_refusal(a));
    return 1;
}

std::string with_commas(uint64_t n) {
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}
