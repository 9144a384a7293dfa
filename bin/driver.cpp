#include "bin/driver.h"

#include <sys/statfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "atoms/file_io.h"
#include "bin/command_line.h"
#include "bin/driver_state.h"
#include "bin/file_sync.h"
#include "bin/forward.h"
#include "bin/messages.h"
#include "bin/undo.h"
#include "engine/recovery.h"

namespace {

// Below 512 MiB free the file system is too close to full to grow the file.
constexpr uint64_t kMinFreeSpace = 0x1FFFFFFF;

int start_up() {
    if (mp4_file.empty()) {
        say("You must specify a file\n");
        return 1;
    }
    // Read-only until the first write; see bin/exclusive_file.h.
    const FileAccess access = mp4_access.open(mp4_file);
    mp4_fd = mp4_access.fd();
    if (access != FileAccess::ok) {
        say("%s", access_refusal(access));
        return 1;
    }
    struct statfs fs;
    if (fstatfs(mp4_fd, &fs) != 0) {
        say("Cannot determine free space around file\n");
        return 1;
    }
    const uint64_t free_bytes = static_cast<uint64_t>(fs.f_bsize) * static_cast<uint64_t>(fs.f_bavail);
    if (free_bytes <= kMinFreeSpace) {
        say("Not enough free space around file\n");
        return 1;
    }
    return -1;
}

// Binds the atom stack to the file as it is now; the engine reads through it.
int bind_atom_stack() {
    if (mp4_qt != nullptr) mp4_qt = quicktime_stack_destroy(mp4_qt);
    mp4_orig_len = lseek(mp4_fd, 0, SEEK_END);
    if (mp4_orig_len < 0) {
        say("Cannot determine file size\n");
        return 1;
    }
    mp4_qt = quicktime_stack_create(0);
    if (mp4_qt == nullptr) {
        say("Cannot allocate QT stack\n");
        return 1;
    }
    if (!quicktime_stack_assign_fd(mp4_qt, mp4_fd)) {
        say("Cannot assign file descriptor to QT stack\n");
        return 1;
    }
    return -1;
}

// Carries out what the journal of an interrupted run calls for; the file
// is writable by now.
Recovery recover(const RecoveryPlan& plan) {
    if (plan.outcome == Recovery::failed || plan.outcome == Recovery::nothing) return plan.outcome;
    if (plan.restore && (!write_buffer_at(mp4_fd, static_cast<off_t>(plan.restore->at), plan.restore->bytes) ||
                         !sync_file(mp4_fd))) {
        return Recovery::failed;
    }
    if (ftruncate(mp4_fd, static_cast<off_t>(plan.truncate_to)) != 0 || !sync_file(mp4_fd)) return Recovery::failed;
    return plan.outcome;
}

// The file as a recovery would leave it, seen without writing.
FileReader recovered_view(const FileReader& file, const RecoveryPlan& plan) {
    const FileReader cut = file.limited_to(plan.truncate_to);
    return plan.restore ? cut.with_bytes_at(plan.restore->at, plan.restore->bytes) : cut;
}

// After a step that changed the file: a dry run goes on with the view of
// what the step would have left; a real run reads the file anew. -1 to go
// on, else the exit status.
int move_on(FileReader& file, const FileReader& view) {
    if (dry_run) {
        file = view;
        return -1;
    }
    const int rc = bind_atom_stack();
    if (rc < 0) file = quicktime_stack_reader(mp4_qt);
    return rc;
}

int run_job() {
    int rc = bind_atom_stack();
    if (rc >= 0) return rc;
    FileReader file = quicktime_stack_reader(mp4_qt);
    const FileTail tail = read_tail(file);
    const FoundJournal found = find_journal(tail.bytes.data(), tail.bytes.size(), file.size());
    if (found.state == JournalState::none) return do_undo ? run_undo(file, "") : run_forward_conversion(file, &tail, "");

    const RecoveryPlan plan = plan_recovery(file, found);
    rc = plan.outcome == Recovery::failed ? -1 : claim_writes(file.size());
    if (rc >= 0) return rc;
    const Recovery recovery = dry_run ? plan.outcome : recover(plan);
    if (recovery == Recovery::failed) {
        say("Cannot recover from an interrupted run\n");
        return 1;
    }
    rc = move_on(file, recovered_view(file, plan));
    if (rc >= 0) return rc;
    const std::string before = "recover from an interrupted run, then ";
    if (recovery == Recovery::undo_pending) {
        // An undo was cut short before it changed anything: finish it, so
        // the file is back to its original bytes whatever was asked now.
        FileReader restored = file;
        rc = run_undo(file, before, do_undo ? nullptr : &restored);
        if (rc != 0 || do_undo) return rc;
        rc = move_on(file, restored);
        if (rc >= 0) return rc;
    } else if (do_undo) {
        // The original is back: nothing left to undo.
        if (dry_run) std::printf("would %srestore the original (%s bytes)\n", before.c_str(), with_commas(file.size()).c_str());
        return 0;
    }
    return run_forward_conversion(file, nullptr, before);
}

}  // namespace

int run_driver(int argc, char** argv) {
    int rc = parse_command_line(argc, argv);
    if (rc >= 0) return rc;
    rc = start_up();
    if (rc < 0) rc = run_job();
    if (dbg_count_reads) {
        const ReadCounters& c = FileReader::counters();
        say("reads: %llu calls, %llu bytes\n", static_cast<unsigned long long>(c.reads.load()),
            static_cast<unsigned long long>(c.bytes.load()));
    }
    return rc;
}
