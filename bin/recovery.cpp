#include "bin/recovery.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "atoms/file_io.h"
#include "bin/file_sync.h"
#include "bin/journal.h"

namespace {

// Never more than a conversion saves: 16 MiB of payload and its header.
constexpr uint64_t kMaxMoovLength = 16777216 + 8;

bool truncate_to(int fd, uint64_t size) {
    return ftruncate(fd, static_cast<off_t>(size)) == 0 && sync_file(fd);
}

// Puts the original moov back where it stood, from the copy the journal
// names, unless the region already holds it.
bool restore_moov_region(int fd, const Journal& j) {
    if (j.moov_length < 8 || j.moov_length > kMaxMoovLength || j.moov_offset + j.moov_length > j.orig_size) {
        return false;
    }
    std::vector<unsigned char> bytes(j.moov_length);
    if (read_exact_at(fd, j.moov_offset, bytes) && content_hash(bytes.data(), bytes.size()) == j.moov_hash) {
        return true;
    }
    if (!read_exact_at(fd, j.copy_offset, bytes) || content_hash(bytes.data(), bytes.size()) != j.moov_hash) {
        return false;
    }
    return write_buffer_at(fd, static_cast<off_t>(j.moov_offset), bytes) && sync_file(fd);
}

}  // namespace

InterruptedRun find_interrupted_run(int fd) {
    InterruptedRun found;
    struct stat st;
    if (fstat(fd, &st) != 0 || st.st_size < 0) return found;
    found.file_size = static_cast<uint64_t>(st.st_size);
    std::vector<unsigned char> tail(found.file_size < kJournalSize ? found.file_size : kJournalSize);
    if (!read_exact_at(fd, found.file_size - tail.size(), tail)) return found;
    found.state = find_journal(tail, found.file_size, found.journal);
    return found;
}

Recovery recover_interrupted_run(int fd, const InterruptedRun& found) {
    const Journal& j = found.journal;
    switch (found.state) {
        case JournalState::none:
            return Recovery::nothing;
        case JournalState::partial:
            // The journal is written before any in-place write, so a journal
            // cut short means the original region was never touched: only
            // what was appended has to go.
            if (j.op == JournalOp::convert) return truncate_to(fd, j.orig_size) ? Recovery::restored_original : Recovery::failed;
            return truncate_to(fd, j.self_offset) ? Recovery::undo_pending : Recovery::failed;
        case JournalState::complete:
            if (!restore_moov_region(fd, j)) return Recovery::failed;
            return truncate_to(fd, j.orig_size) ? Recovery::restored_original : Recovery::failed;
    }
    return Recovery::nothing;
}
