// Start-up recovery from an interrupted conversion or undo: a journal at the
// end of the file means the previous run stopped part way. What to do is
// decided here from what the file holds, read without writing; the driver
// carries it out. Nothing is written on the strength of an unchecked
// journal: a journal whose hashes fail is refused, and one cut short is
// removed only once the file without it is seen to be the file its run
// started from.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "atomstack/file_reader.h"
#include "engine/journal.h"
#include "engine/relocation.h"

enum class Recovery {
    nothing,            // no journal: the file is as a complete run left it
    restored_original,  // the file holds its original bytes again
    undo_pending,       // back to the converted file; its undo is still to run
    failed,             // nothing can be acted on; nothing is to be written
};

// The last bytes of the file: where the journal is looked for, and where an
// index of the fragments (mfra) ends.
struct FileTail {
    uint64_t at = 0;  // the file offset of bytes[0]
    std::vector<unsigned char> bytes;
};
FileTail read_tail(const FileReader& file);

// The way back: put the original moov back from its copy (when the region
// does not hold it already), then truncate; done, the file is as `outcome`
// says.
struct RecoveryPlan {
    Recovery outcome = Recovery::nothing;
    std::optional<PlannedWrite> restore;
    uint64_t truncate_to = 0;
};
RecoveryPlan plan_recovery(const FileReader& file, const FoundJournal& found);
