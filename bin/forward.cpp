#include "bin/forward.h"

#include <unistd.h>

#include "atoms/file_io.h"
#include "bin/driver_state.h"
#include "bin/file_sync.h"
#include "bin/journal.h"
#include "bin/messages.h"
#include "bin/rebuild.h"
#include "bin/relocation_plan.h"
#include "bin/scan.h"

namespace {

constexpr uint64_t kMaxMoovPayload = 16777216;

void release_file() {
    mp4_qt = quicktime_stack_destroy(mp4_qt);
    close(mp4_fd);
}

// Limits and room, checked before the first write so that a refused file is
// left exactly as it was. Returns -1 to go on, else the exit status.
int check_limits_and_read_moov() {
    const uint64_t N = mp4_moov.data_length;
    if (N - 8 > kMaxMoovPayload - 8 || mp4_moov.is_64bit) {
        say("moov atom is too large\n");
        return 1;
    }
    mp4_saved_moov_data.resize(N);
    quicktime_stack_empty(mp4_qt);
    long got = quicktime_stack_read(mp4_qt, &mp4_moov, mp4_saved_moov_data.data(), static_cast<long>(N));
    if (got < 0 || static_cast<uint64_t>(got) != N) {
        say("Failed to read moov atom\n");
        return 1;
    }
    if (mp4_moov.absolute_data_offset + mp4_moov.data_length > mp4_mdat.start_offset) {
        say("moov overlaps mdat\n");
        return 1;
    }
    const uint64_t H = mdat_header_size(static_cast<uint64_t>(mp4_orig_len), dbg_force_mdat64);
    if (N < H + undo_record_room()) {
        say("moov atom is too small for the undo record\n");
        return 1;
    }
    return -1;
}

bool write_planned(const PlannedWrite& w) {
    if (write_buffer_at(mp4_fd, w.at, w.bytes)) return true;
    say("%s", w.failure_message);
    return false;
}

bool sync_or_say() {
    if (sync_file(mp4_fd)) return true;
    say("Failed to sync file\n");
    return false;
}

// Takes a failed conversion back at once, so that the user is left with the
// original file rather than one the next run has to recover. Best effort:
// when this fails too, the journal is still there for the next run.
void roll_back(const std::vector<unsigned char>& original_moov, bool in_place_started) {
    if (in_place_started) {
        if (!write_buffer_at(mp4_fd, static_cast<off_t>(mp4_moov.start_offset), original_moov) ||
            !sync_file(mp4_fd)) {
            return;
        }
    }
    if (ftruncate(mp4_fd, mp4_orig_len) == 0) sync_file(mp4_fd);
}

// The writes, ordered so that a run killed at any point can be rolled back:
// the journal first (past the final end), then everything appended, and only
// once both are durable the in-place writes over the old moov; the journal
// goes last. Returns -1 on success, else the exit status.
int write_conversion(const RelocationPlan& plan, const std::vector<unsigned char>& new_moov) {
    const uint64_t moov_at = plan.append_end;
    const uint64_t end = moov_at + new_moov.size();

    const std::vector<unsigned char> original_moov = moov_atom_bytes(mp4_saved_moov_data);
    Journal j;
    j.op = JournalOp::convert;
    j.self_offset = end;
    j.orig_size = static_cast<uint64_t>(mp4_orig_len);
    j.moov_offset = mp4_moov.start_offset;
    j.moov_length = original_moov.size();
    j.copy_offset = plan.saved_moov_at;
    j.moov_hash = content_hash(original_moov.data(), original_moov.size());

    auto fail = [&](bool in_place_started) {
        roll_back(original_moov, in_place_started);
        return 1;
    };
    if (!write_planned(PlannedWrite{static_cast<off_t>(end), encode_journal(j), "Failed to append saved moov\n"}) ||
        !sync_or_say() || !write_planned(plan.appended)) {
        return fail(false);
    }
    if (!new_moov.empty() && !write_buffer_at(mp4_fd, static_cast<off_t>(moov_at), new_moov)) {
        say("Failed to write new moov atom\n");
        return fail(false);
    }
    if (!sync_or_say()) return fail(false);
    for (const PlannedWrite& pw : plan.in_place) {
        if (!write_planned(pw)) return fail(true);
    }
    if (!sync_or_say()) return fail(true);
    if (ftruncate(mp4_fd, static_cast<off_t>(end)) != 0) {
        say("File size truncate failed\n");
        return fail(true);
    }
    // The conversion is complete. Should the removal of the journal not
    // survive a crash, the next run rolls back to the original: consistent.
    sync_file(mp4_fd);
    return -1;
}

}  // namespace

int run_forward_conversion() {
    int rc = scan_top_level();
    if (rc >= 0) return rc;
    rc = check_limits_and_read_moov();
    if (rc >= 0) return rc;

    std::vector<unsigned char> new_moov;
    MergeReport merged;
    if (!debug_move_moov) {
        rc = build_new_movie(new_moov, merged);
        if (rc >= 0) return rc;
    }

    RelocationInput in{mp4_moov.start_offset, mp4_mdat.start_offset, static_cast<uint64_t>(mp4_orig_len),
                       dbg_force_mdat64, debug_move_moov, &mp4_saved_moov_data};
    RelocationPlan plan = plan_relocation(in);
    rc = claim_writes(static_cast<uint64_t>(mp4_orig_len));
    if (rc >= 0) return rc;
    say_merge_warnings(merged);
    rc = write_conversion(plan, new_moov);
    if (rc >= 0) return rc;

    if (debug_move_moov) say("debug function complete: moov appended as-is to the end. It should play.\n");
    release_file();
    return 0;
}
