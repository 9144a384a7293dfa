#include "bin/undo.h"

#include <sys/stat.h>
#include <unistd.h>

#include "atoms/file_io.h"
#include "bin/driver_state.h"
#include "bin/file_sync.h"
#include "bin/messages.h"
#include "engine/journal.h"
#include "engine/undo_plan.h"

namespace {

int fail(Msg m) {
    say_outcome({m});
    return 1;
}

}  // namespace

int run_undo() {
    const UndoPlan plan = plan_undo(quicktime_stack_reader(mp4_qt));
    if (!plan.refusal.ok()) {
        say_outcome(plan.refusal);
        return 1;
    }

    const int claimed = claim_writes(static_cast<uint64_t>(mp4_orig_len));
    if (claimed >= 0) return claimed;
    // The journal goes first and is made durable, so that a run killed while
    // the moov is being written back can finish the restoration.
    struct stat st;
    if (fstat(mp4_fd, &st) != 0) return fail(Msg::unable_to_restore_moov);
    const Journal j = make_journal(JournalOp::undo, static_cast<uint64_t>(st.st_size), plan.orig_size,
                                   plan.moov_offset, plan.restored_moov, plan.copy_offset);
    // On a failure before the moov is written back, the journal alone is
    // taken away again; after it, the next run finishes the restoration.
    if (!write_buffer_at(mp4_fd, st.st_size, encode_journal(j))) {
        say_outcome({Msg::unable_to_restore_moov});
        if (ftruncate(mp4_fd, st.st_size) == 0) sync_file(mp4_fd);
        return 1;
    }
    if (!sync_file(mp4_fd)) return fail(Msg::failed_sync);
    if (!write_buffer_at(mp4_fd, static_cast<off_t>(plan.moov_offset), plan.restored_moov)) {
        return fail(Msg::unable_to_restore_moov);
    }
    if (!sync_file(mp4_fd)) return fail(Msg::failed_sync);
    if (ftruncate(mp4_fd, static_cast<off_t>(plan.orig_size)) != 0) return fail(Msg::truncate_failed);
    // Restored. Should the truncation not survive a crash, the next run
    // finds the journal and truncates again.
    sync_file(mp4_fd);
    return 0;
}
