#include "bench/bench_case.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include <chrono>
#include <cstdlib>

#include "atoms/fourcc.h"
#include "atomstack/file_reader.h"
#include "atomstack/top_level_walk.h"
#include "movie/moov.h"

namespace {

std::string run_problem(const char* what, const ChildRun& run) {
    if (run.exit_status == 0) return "";
    if (run.exit_status < 0) return std::string(what) + " was killed";
    return std::string(what) + " exited with status " + std::to_string(run.exit_status);
}

// Empty when the file's last top-level moov, read with the tool's own movie
// model, holds the generated samples, track by track.
std::string check_new_moov(const std::string& path, const Recording& file) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return "cannot open the converted file";
    const FileReader reader(fd, static_cast<uint64_t>(st.st_size));
    TopLevelWalk walk(reader, 0, reader.size());
    std::vector<unsigned char> body;
    for (AtomHeader a; walk.next(a);) {
        ByteSpan payload;
        if (a.type == fourcc("moov") && walk.payload(a, UINT64_MAX, payload)) body.assign(payload.data, payload.data + payload.len);
    }
    close(fd);
    if (body.empty()) return "no moov after conversion";
    qt_moov_info movie;
    movie.parse_atom_data(body.data(), body.size());
    std::vector<uint64_t> counts;
    for (const qt_track_info& track : movie.tracks) counts.push_back(track.sumSampleCounts());
    if (counts == std::vector<uint64_t>{file.video_samples, file.audio_samples}) return "";
    std::string got;
    for (uint64_t n : counts) got += (got.empty() ? "" : "+") + std::to_string(n);
    return "new moov holds " + got + " samples";
}

// The reads a conversion cannot do without, one after another: each
// top-level header (16 bytes), then each moof's payload. Returns the read
// calls and the seconds they took.
std::pair<long long, double> read_floor(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) return {0, 0};
    const FileReader reader(fd, static_cast<uint64_t>(st.st_size));
    const uint64_t before = FileReader::counters().reads;
    const auto start = std::chrono::steady_clock::now();
    std::vector<unsigned char> head(kMaxAtomHeader), payload;
    for (uint64_t at = 0; at < reader.size();) {
        AtomHeader h;
        const size_t got = reader.read(at, head.data(), head.size());
        if (read_atom_header(head.data(), got, at, reader.size(), h) != HeaderRead::ok) break;
        if (h.type == fourcc("moof")) {
            payload.resize(static_cast<size_t>(std::min(h.end, reader.size()) - h.body()));
            reader.read(h.body(), payload.data(), payload.size());
        }
        at = h.end;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(fd);
    return {static_cast<long long>(FileReader::counters().reads - before), seconds};
}

// The "reads: N calls" line of the tool's debug switch; -1 without one.
long long reported_reads(const std::string& err) {
    const size_t at = err.rfind("reads: ");
    return at == std::string::npos ? -1 : std::atoll(err.c_str() + at + 7);
}

// What must come back after an undo: the size, the bytes of every written
// region (FNV-1a) and the disk blocks in use, so that no hole was filled in.
struct Fingerprint {
    uint64_t size = 0;
    uint64_t blocks = 0;
    uint64_t hash = 0xcbf29ce484222325ull;
    bool ok = false;
};

// Syncs the file first: the conversion's dirty pages are not charged to the
// undo, and the block count has settled.
Fingerprint take_fingerprint(const std::string& path, const std::vector<Region>& regions) {
    Fingerprint f;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    f.ok = fd >= 0 && fsync(fd) == 0 && fstat(fd, &st) == 0;
    f.size = static_cast<uint64_t>(st.st_size);
    f.blocks = static_cast<uint64_t>(st.st_blocks);
    const FileReader reader(fd, f.size);
    std::vector<unsigned char> bytes;
    for (const Region& r : regions) {
        bytes.resize(r.length);
        f.ok = f.ok && reader.read_exact(r.offset, bytes);
        for (unsigned char b : bytes) f.hash = (f.hash ^ b) * 0x100000001b3ull;
    }
    if (fd >= 0) close(fd);
    return f;
}

std::string compare_fingerprints(const Fingerprint& before, const Fingerprint& after) {
    if (!before.ok || !after.ok) return "after undo: unreadable";
    if (after.size != before.size) return "after undo: size differs";
    if (after.hash != before.hash) return "after undo: bytes differ";
    if (after.blocks != before.blocks) return "after undo: holes filled";
    return "";
}

// Folds one run into the figures so far.
void fold(ChildRun& best, const ChildRun& run, bool first) {
    best.seconds = first ? run.seconds : std::min(best.seconds, run.seconds);
    best.cpu_seconds = first ? run.cpu_seconds : std::min(best.cpu_seconds, run.cpu_seconds);
    best.peak_rss_kib = std::max(best.peak_rss_kib, run.peak_rss_kib);
    best.write_calls = std::max(best.write_calls, run.write_calls);
}

}  // namespace

CaseResult run_case(const std::string& tool, const std::string& path, Kind kind, uint64_t samples, int repeat,
                    bool keep) {
    CaseResult r;
    r.kind = kind;
    const bool written = write_recording(path, kind, samples, r.file, r.problem);
    const Fingerprint original = take_fingerprint(path, r.file.written);
    for (int i = 0; i < repeat && written; ++i) {
        ChildRun convert = run_child(tool, {"--dbg-count-reads", "-f", path});
        r.problem = run_problem("conversion", convert);
        // The report of the reads is one write of its own.
        const long long reads = reported_reads(convert.err);
        if (reads >= 0 && convert.write_calls > 0) --convert.write_calls;
        if (r.ok()) r.problem = check_new_moov(path, r.file);
        // Every run forks from the bench and starts with its pages: hand the
        // movie just read back to the system, or it shows in the next peak.
        malloc_trim(0);
        if (!r.ok()) break;
        take_fingerprint(path, {});  // only the sync, outside the timed undo
        const ChildRun undo = run_child(tool, {"--undo", "-f", path});
        r.problem = run_problem("undo", undo);
        if (r.ok()) r.problem = compare_fingerprints(original, take_fingerprint(path, r.file.written));
        if (!r.ok()) break;
        fold(r.convert, convert, i == 0);
        r.reads = std::max(r.reads, reads);
        const auto [floor_reads, floor_seconds] = read_floor(path);
        r.floor_reads = floor_reads;
        r.floor_seconds = i == 0 ? floor_seconds : std::min(r.floor_seconds, floor_seconds);
        fold(r.undo, undo, i == 0);
        ++r.runs;
    }
    if (!keep) unlink(path.c_str());
    return r;
}
