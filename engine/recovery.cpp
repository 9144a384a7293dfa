#include "engine/recovery.h"

#include <algorithm>

#include "atoms/fourcc.h"
#include "atomstack/top_level_walk.h"
#include "engine/undo_plan.h"

namespace {

// Never more than a conversion saves: 16 MiB of payload and its header.
constexpr uint64_t kMaxMoovLength = kMaxMoovPayload + 8;
// The tail read at start-up: enough for the journal and an index's end.
constexpr uint64_t kTailBytes = 4096;

RecoveryPlan failed() { return RecoveryPlan{Recovery::failed, std::nullopt, 0}; }

// Whether [from, to) of the file holds nothing but zeros: the hole that a
// conversion's early journal write leaves past the original end.
bool only_zeros(const FileReader& file, uint64_t from, uint64_t to) {
    std::vector<unsigned char> buf;
    while (from < to) {
        buf.resize(static_cast<size_t>(std::min<uint64_t>(to - from, uint64_t{1} << 20)));
        if (!file.read_exact(from, buf) || std::any_of(buf.begin(), buf.end(), [](unsigned char b) { return b != 0; })) {
            return false;
        }
        from += buf.size();
    }
    return true;
}

// The file as a conversion found it: a moov and fragments at the top level,
// and no undo record. `end`: where its last atom ends, or, where the walk
// meets a header of zeros (the hole), where that begins.
bool original_layout(const FileReader& file, uint64_t& end) {
    TopLevelWalk walk(file, 0, file.size());
    bool moov = false, moof = false;
    AtomHeader a;
    end = 0;
    while (walk.next(a)) {
        if (a.type == 0 && a.size_zero) break;
        if (a.type == fourcc("TOLV")) return false;
        moov = moov || a.type == fourcc("moov");
        moof = moof || a.type == fourcc("moof");
        end = std::min(a.end, file.size());
    }
    return moov && moof;
}

// A journal cut short: the run stopped while writing it, before it wrote
// anything else. What the file is without it decides which run that was.
RecoveryPlan plan_cut(const FileReader& file, const FoundJournal& found) {
    const FileReader without = file.limited_to(found.at);
    const Journal& j = found.journal;
    const bool undo_known = found.head_checked && j.op == JournalOp::undo;
    if (!found.head_checked || undo_known) {
        // An undo appends its journal to the converted file.
        const UndoPlan undo = plan_undo(without);
        if (undo.refusal.ok() && (!undo_known || undo.orig_size == j.orig_size)) {
            return RecoveryPlan{Recovery::undo_pending, std::nullopt, found.at};
        }
        if (undo_known) return failed();
    }
    // A conversion writes its journal past the end its file will have, over
    // a hole: the original, then zeros.
    // With a checked head the original's size is known; else it ends where
    // the hole begins.
    uint64_t end = 0;
    const FileReader original = found.head_checked ? file.limited_to(j.orig_size) : without;
    if ((found.head_checked && j.orig_size > found.at) || !original_layout(original, end)) return failed();
    const uint64_t truncate_to = found.head_checked ? j.orig_size : end;
    if (!only_zeros(file, truncate_to, found.at)) return failed();
    return RecoveryPlan{Recovery::restored_original, std::nullopt, truncate_to};
}

}  // namespace

FileTail read_tail(const FileReader& file) {
    FileTail tail;
    const uint64_t size = file.size();
    // From a page boundary: the page comes whole anyway.
    tail.at = size > kJournalSize ? (size - kJournalSize) / kTailBytes * kTailBytes : 0;
    tail.bytes.resize(static_cast<size_t>(size - tail.at));
    tail.bytes.resize(file.read(tail.at, tail.bytes.data(), tail.bytes.size()));
    return tail;
}

RecoveryPlan plan_recovery(const FileReader& file, const FoundJournal& found) {
    const Journal& j = found.journal;
    switch (found.state) {
        case JournalState::none: return RecoveryPlan{};
        case JournalState::damaged: return failed();
        case JournalState::cut: return plan_cut(file, found);
        case JournalState::complete: break;
    }
    if (j.moov_length < 8 || j.moov_length > kMaxMoovLength || j.orig_size > found.at ||
        j.moov_offset + j.moov_length > j.orig_size || j.copy_offset + j.moov_length > found.at) {
        return failed();
    }
    RecoveryPlan plan{Recovery::restored_original, std::nullopt, j.orig_size};
    std::vector<unsigned char> bytes(static_cast<size_t>(j.moov_length));
    if (file.read_exact(j.moov_offset, bytes) && content_hash(bytes.data(), bytes.size()) == j.moov_hash) {
        return plan;  // the original moov stands where it belongs already
    }
    // Only a copy seen to be the original moov is written back.
    if (!file.read_exact(j.copy_offset, bytes) || content_hash(bytes.data(), bytes.size()) != j.moov_hash) {
        return failed();
    }
    plan.restore = PlannedWrite{j.moov_offset, std::move(bytes), Msg::none};
    return plan;
}
