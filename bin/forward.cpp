#include "bin/forward.h"

#include <unistd.h>

#include "atoms/file_io.h"
#include "bin/driver_state.h"
#include "bin/file_sync.h"
#include "bin/messages.h"
#include "engine/conversion.h"
#include "engine/scan.h"

namespace {

void release_file() {
    mp4_qt = quicktime_stack_destroy(mp4_qt);
    close(mp4_fd);
}

// The scan's verdict, with the offsets it prints after it.
void say_scan_refusal(const ScanResult& s) {
    using ull = unsigned long long;
    if (s.verdict == Msg::not_mp4 && !s.ftyp.found) say("Warning: Quicktime file without ftyp atom\n");
    say_outcome({s.verdict});
    if (s.verdict == Msg::not_quicktime) {
        say("moov @ %llu\n", ull(s.moov.data_offset()));
        say("mdat @ %llu\n", ull(s.mdat.data_offset()));
    } else if (s.verdict == Msg::not_fragmented) {
        say("moof @ %llu\n", ull(s.first_moof.data_offset()));
        say("mvex @ %llu\n", ull(s.mvex.data_offset()));
    }
}

void say_merge_warnings(const ConversionPlan& p) {
    using ull = unsigned long long;
    for (uint32_t id : mp4_moov_info.unmatched_trex_ids) {
        say("'trex' atom warning: Unable to find track with ID %u\n", id);
    }
    for (uint64_t i = 0; i < p.merged.unlocated_trafs; ++i) say("moof: unable to locate track\n");
    if (p.undescribed > 0) say("Left out %llu samples that the movie's own tables do not all describe\n", ull(p.undescribed));
    if (p.merged.samples_left_out > 0) {
        say("Left out %llu samples that lie past the end of the file\n", ull(p.merged.samples_left_out));
    }
}

bool write_or_say(const PlannedWrite& w) {
    if (write_buffer_at(mp4_fd, static_cast<off_t>(w.at), w.bytes)) return true;
    say_outcome({w.failure});
    return false;
}

bool sync_or_say() {
    if (sync_file(mp4_fd)) return true;
    say_outcome({Msg::failed_sync});
    return false;
}

// Takes a failed conversion back at once, so that the user is left with the
// original file rather than one the next run has to recover. Best effort:
// when this fails too, the journal is still there for the next run.
int roll_back(const ConversionPlan& p, bool in_place_started) {
    if (in_place_started &&
        (!write_buffer_at(mp4_fd, static_cast<off_t>(p.scan.moov.atom.start), p.original_moov) || !sync_file(mp4_fd))) {
        return 1;
    }
    if (ftruncate(mp4_fd, mp4_orig_len) == 0) sync_file(mp4_fd);
    return 1;
}

// The writes, ordered so that a run killed at any point can be rolled back:
// the journal first (past the final end), then everything appended, and only
// once both are durable the in-place writes over the old moov; the journal
// goes last. Returns -1 on success, else the exit status.
int write_conversion(const ConversionPlan& p) {
    const uint64_t end = p.journal.self_offset;
    if (!write_or_say({end, encode_journal(p.journal), Msg::failed_append_saved_moov}) || !sync_or_say() ||
        !write_or_say(p.relocation.appended)) {
        return roll_back(p, false);
    }
    if (!p.new_moov.empty() && !write_or_say({p.new_moov_at, p.new_moov, Msg::failed_write_new_moov})) {
        return roll_back(p, false);
    }
    if (!sync_or_say()) return roll_back(p, false);
    for (const PlannedWrite& w : p.relocation.in_place) {
        if (!write_or_say(w)) return roll_back(p, true);
    }
    if (!sync_or_say()) return roll_back(p, true);
    if (ftruncate(mp4_fd, static_cast<off_t>(end)) != 0) {
        say_outcome({Msg::truncate_failed});
        return roll_back(p, true);
    }
    // The conversion is complete. Should the removal of the journal not
    // survive a crash, the next run rolls back to the original: consistent.
    sync_file(mp4_fd);
    return -1;
}

// What a dry run says it would do.
void say_what_would_happen(const ConversionPlan& p, uint64_t file_size, const std::string& before) {
    const std::string appended = with_commas(p.journal.self_offset - file_size);
    if (debug_move_moov) {
        std::printf("would %sappend the moov as it is: appends %s bytes\n", before.c_str(), appended.c_str());
        return;
    }
    uint64_t samples = 0;
    for (const qt_track_info& t : mp4_moov_info.tracks) samples += t.sumSampleCounts();
    const auto count = [](uint64_t n, const char* what) { return with_commas(n) + " " + what + (n == 1 ? "" : "s"); };
    std::printf("would %sconvert: %s, %s in %s, appends %s bytes\n", before.c_str(),
                count(mp4_moov_info.tracks.size(), "track").c_str(), count(samples, "sample").c_str(),
                count(p.fragments, "fragment").c_str(), appended.c_str());
}

}  // namespace

int run_forward_conversion(const FileReader& file, const FileTail* tail, const std::string& before) {
    const WriteOptions options{dbg_force_mvhd_v1, dbg_force_tkhd_v1, dbg_force_mdhd_v1, dbg_force_co64};
    const ConversionPlan p =
        plan_conversion(file, mp4_moov_info, ConversionInput{file.size(), dbg_force_mdat64, debug_move_moov, options, tail});
    if (p.scan.verdict != Msg::none) {
        say_scan_refusal(p.scan);
        return 1;
    }
    if (!p.refusal.ok()) {
        say_outcome(p.refusal);
        return 1;
    }
    int rc = claim_writes(file.size());
    if (rc >= 0) return rc;
    say_merge_warnings(p);
    if (dry_run) {
        say_what_would_happen(p, file.size(), before);
        return 0;
    }
    rc = write_conversion(p);
    if (rc >= 0) return rc;

    if (debug_move_moov) say("debug function complete: moov appended as-is to the end. It should play.\n");
    release_file();
    return 0;
}
