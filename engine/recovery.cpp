#include "engine/recovery.h"

#include <sys/stat.h>

#include <vector>

#include "atoms/file_io.h"

namespace {

// Never more than a conversion saves: 16 MiB of payload and its header.
constexpr uint64_t kMaxMoovLength = kMaxMoovPayload + 8;

RecoveryPlan failed() { return RecoveryPlan{Recovery::failed, std::nullopt, 0}; }

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

RecoveryPlan plan_recovery(int fd, const InterruptedRun& found) {
    const Journal& j = found.journal;
    switch (found.state) {
        case JournalState::none:
            return RecoveryPlan{};
        case JournalState::partial:
            // The journal is written before any in-place write, so a journal
            // cut short means the original region was never touched: only
            // what was appended has to go.
            if (j.op == JournalOp::convert) return RecoveryPlan{Recovery::restored_original, std::nullopt, j.orig_size};
            return RecoveryPlan{Recovery::undo_pending, std::nullopt, j.self_offset};
        case JournalState::complete:
            break;
    }
    if (j.moov_length < 8 || j.moov_length > kMaxMoovLength || j.moov_offset + j.moov_length > j.orig_size) {
        return failed();
    }
    RecoveryPlan plan{Recovery::restored_original, std::nullopt, j.orig_size};
    std::vector<unsigned char> bytes(j.moov_length);
    if (read_exact_at(fd, j.moov_offset, bytes) && content_hash(bytes.data(), bytes.size()) == j.moov_hash) {
        return plan;  // the original moov stands where it belongs already
    }
    if (!read_exact_at(fd, j.copy_offset, bytes) || content_hash(bytes.data(), bytes.size()) != j.moov_hash) {
        return failed();
    }
    plan.restore = PlannedWrite{j.moov_offset, std::move(bytes), Msg::none};
    return plan;
}
