// Start-up recovery from an interrupted conversion or undo: a journal at the
// end of the file means the previous run stopped part way. What to do is
// decided here from what the file holds, read without writing; the driver
// carries it out.
#pragma once

#include <cstdint>
#include <optional>

#include "engine/journal.h"
#include "engine/relocation.h"

enum class Recovery {
    nothing,            // no journal: the file is as a complete run left it
    restored_original,  // the file holds its original bytes again
    undo_pending,       // back to the converted file; its undo is still to run
    failed,             // a journal that cannot be acted on; nothing changed
};

// What the end of the file says: the journal of an interrupted run (state
// none when there is none) and the file's size.
struct InterruptedRun {
    JournalState state = JournalState::none;
    Journal journal;
    uint64_t file_size = 0;
};
InterruptedRun find_interrupted_run(int fd);

// The way back: put the original moov back from its copy (when the region
// does not hold it already), then truncate; done, the file is as `outcome`
// says. outcome failed: nothing is to be written.
struct RecoveryPlan {
    Recovery outcome = Recovery::nothing;
    std::optional<PlannedWrite> restore;
    uint64_t truncate_to = 0;
};
RecoveryPlan plan_recovery(int fd, const InterruptedRun& found);
