// Start-up recovery from an interrupted conversion or undo: a journal at the
// end of the file means the previous run stopped part way; the file is
// brought back to its original bytes (or, for an undo whose journal was cut
// short, to the converted file it started from).
#pragma once

#include <cstdint>

#include "bin/journal.h"

enum class Recovery {
    nothing,            // no journal: the file is as a complete run left it
    restored_original,  // the file holds its original bytes again
    undo_pending,       // back to the converted file; its undo is still to run
    failed,             // a journal that cannot be acted on; nothing changed
};

// What the end of the file says, read without writing: the journal of an
// interrupted run (state none when there is none) and the file's size.
struct InterruptedRun {
    JournalState state = JournalState::none;
    Journal journal;
    uint64_t file_size = 0;
};
InterruptedRun find_interrupted_run(int fd);

// Brings the file back as the journal found says; fd must be writable.
Recovery recover_interrupted_run(int fd, const InterruptedRun& found);
