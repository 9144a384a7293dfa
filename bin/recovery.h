// Start-up recovery from an interrupted conversion or undo: a journal at the
// end of the file means the previous run stopped part way; the file is
// brought back to its original bytes (or, for an undo whose journal was cut
// short, to the converted file it started from).
#pragma once

enum class Recovery {
    nothing,            // no journal: the file is as a complete run left it
    restored_original,  // the file holds its original bytes again
    undo_pending,       // back to the converted file; its undo is still to run
    failed,             // a journal that cannot be acted on; nothing changed
};

Recovery recover_interrupted_run(int fd);
