#include "bin/undo.h"

#include <unistd.h>

#include <cstdio>

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

int run_undo(const FileReader& file, const std::string& before, FileReader* restored) {
    const UndoPlan plan = plan_undo(file);
    if (!plan.refusal.ok()) {
        say_outcome(plan.refusal);
        return 1;
    }
    const int claimed = claim_writes(file.size());
    if (claimed >= 0) return claimed;
    if (dry_run) {
        if (restored != nullptr) *restored = file.limited_to(plan.orig_size).with_bytes_at(plan.moov_offset, plan.restored_moov);
        else std::printf("would %srestore the original (%s bytes)\n", before.c_str(), with_commas(plan.orig_size).c_str());
        return 0;
    }
    // The journal goes first and is made durable, so that a run killed while
    // the moov is being written back can finish the restoration.
    const off_t end = static_cast<off_t>(file.size());
    const Journal j = make_journal(JournalOp::undo, file.size(), plan.orig_size, plan.moov_offset, plan.restored_moov,
                                   plan.copy_offset);
    // Should the journal's own write fail, it is taken away again; after
    // any later failure the next run finds it and finishes the restoration.
    if (!write_buffer_at(mp4_fd, end, encode_journal(j))) {
        say_outcome({Msg::unable_to_restore_moov});
        if (ftruncate(mp4_fd, end) == 0) sync_file(mp4_fd);
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
