#include "bench/bench_case.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "bench/child_run.h"
#include "bench/fingerprint.h"
#include "bench/moov_probe.h"
#include "bench/synthetic_file.h"

namespace {

std::string describe_exit(const char* what, const ChildRun& run) {
    if (!run.started) return std::string(what) + " could not be started";
    if (run.exit_status < 0) return std::string(what) + " was killed by a signal";
    return std::string(what) + " exited with status " + std::to_string(run.exit_status);
}

// Empty when the new moov holds the generated samples, track by track.
std::string check_new_moov(const SyntheticFile& file) {
    std::vector<uint64_t> counts;
    if (!probe_sample_counts(file.path, counts)) return "no moov after conversion";
    if (counts.size() != 2 || counts[0] != file.video_samples || counts[1] != file.audio_samples) {
        std::string got;
        for (uint64_t n : counts) got += (got.empty() ? "" : "+") + std::to_string(n);
        return "new moov holds " + got + " samples";
    }
    return "";
}

std::string check_restored(const Fingerprint& original, const std::string& path, const SyntheticFile& file) {
    std::string diff = compare_fingerprints(original, take_fingerprint(path, file.written));
    return diff.empty() ? diff : "after undo: " + diff;
}

// One more conversion and undo under the system call trace. Where tracing
// is not allowed the tool does not start and the file stays as it was.
std::string traced_cycle(const std::string& tool, const std::string& path, const SyntheticFile& file,
                         const Fingerprint& original, CaseResult& r) {
    r.convert_calls = count_syscalls(tool, {"-f", path});
    if (!r.convert_calls.traced) return "";
    if (!r.convert_calls.ok || r.convert_calls.exit_status != 0) {
        return "traced conversion exited with status " + std::to_string(r.convert_calls.exit_status);
    }
    std::string problem = check_new_moov(file);
    if (!problem.empty()) return problem;
    flush_file(path);
    r.undo_calls = count_syscalls(tool, {"--undo", "-f", path});
    if (!r.undo_calls.ok || r.undo_calls.exit_status != 0) {
        return "traced undo exited with status " + std::to_string(r.undo_calls.exit_status);
    }
    return check_restored(original, path, file);
}

}  // namespace

CaseResult run_case(const std::string& tool, const std::string& path, Timing timing, uint64_t samples, int repeat,
                    bool keep) {
    CaseResult r;
    r.timing = timing;
    SyntheticFile file;
    std::string error;
    const bool written = write_synthetic_file(path, timing, samples, file, error);
    r.samples = file.samples();
    r.video_samples = file.video_samples;
    r.audio_samples = file.audio_samples;
    r.fragments = file.fragments;
    r.file_size = file.size;
    if (!written) {
        r.problem = error;
        if (!keep) unlink(path.c_str());
        return r;
    }

    const Fingerprint original = take_fingerprint(path, file.written);
    if (!original.ok) r.problem = "cannot read the generated file";
    for (int i = 0; i < repeat && r.ok(); ++i) {
        const ChildRun convert = run_child(tool, {"-f", path});
        if (!convert.started || convert.exit_status != 0) {
            r.problem = describe_exit("conversion", convert);
            break;
        }
        r.problem = check_new_moov(file);
        if (!r.ok()) break;
        // Flushed outside the timed runs, so that the undo is not charged
        // for the conversion's dirty pages.
        flush_file(path);
        const ChildRun undo = run_child(tool, {"--undo", "-f", path});
        if (!undo.started || undo.exit_status != 0) {
            r.problem = describe_exit("undo", undo);
            break;
        }
        r.problem = check_restored(original, path, file);
        if (!r.ok()) break;

        r.convert_seconds = i == 0 ? convert.seconds : std::min(r.convert_seconds, convert.seconds);
        r.convert_cpu_seconds = i == 0 ? convert.cpu_seconds : std::min(r.convert_cpu_seconds, convert.cpu_seconds);
        r.undo_seconds = i == 0 ? undo.seconds : std::min(r.undo_seconds, undo.seconds);
        r.convert_peak_kib = std::max(r.convert_peak_kib, convert.peak_rss_kib);
        r.undo_peak_kib = std::max(r.undo_peak_kib, undo.peak_rss_kib);
        r.convert_syscw = std::max(r.convert_syscw, convert.write_calls);
        r.undo_syscw = std::max(r.undo_syscw, undo.write_calls);
        ++r.runs;
    }
    if (r.ok()) r.problem = traced_cycle(tool, path, file, original, r);
    if (!keep) unlink(path.c_str());
    return r;
}
