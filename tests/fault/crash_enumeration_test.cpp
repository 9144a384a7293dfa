// Crash safety by enumeration. A clean run under the fault shim counts the
// calls that change the file; then each of them in turn kills the process,
// writes half its bytes and kills it, or fails with EIO or ENOSPC. Whatever
// that leaves, the next run must bring the file back: --undo to the original
// bytes, a conversion to the bytes of an uninterrupted conversion.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/atom_bytes.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

extern char** environ;

namespace {

constexpr int kKilled = 128 + SIGKILL;

const char kNothingToUndo[] = "Not enough information to undo\n";
const char kInUse[] = "File is in use by another run of morvak_fragflat\n";
const char kWrittenElsewhere[] = "File is open for writing in another program\n";

// Every line a failed write, truncation or sync may end the program with.
const std::set<std::string> kFailureLines = {
    "Failed to append saved moov\n", "Failed to sync file\n",       "Failed to write new moov atom\n",
    "Failed to overwrite mdat\n",    "Failed to overwrite moov\n",  "Failed to write VERS\n",
    "Failed to write final zero\n",  "File size truncate failed\n", "Unable to restore moov atom header\n",
};

bool starts_with(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// ---------------------------------------------------------------- running

using Outcome = tool::Result;

// Runs the tool directly (no shell), or as the user nobody through setpriv.
// With shim settings the fault shim is preloaded and configured by them;
// without, the tool runs as it is.
Outcome run(const std::vector<std::string>& args, const std::vector<std::string>& shim_settings = {},
            bool as_nobody = false) {
    tool::RunOptions options;
    options.env.push_back("LD_PRELOAD");
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string var = *e;
        if (starts_with(var, "MORVAK_FAULT_")) options.env.push_back(var.substr(0, var.find('=')));
    }
    // A sanitized tool refuses a preloaded library unless told not to check.
    options.env.push_back(tool::asan_options_with("verify_asan_link_order=0"));
    if (!shim_settings.empty()) {
        options.env.push_back(std::string("LD_PRELOAD=") + MORVAK_FAULT_SHIM);
        options.env.insert(options.env.end(), shim_settings.begin(), shim_settings.end());
    }
    if (!as_nobody) return tool::run(args, options);
    options.program = "setpriv";
    std::vector<std::string> line{"--reuid=65534", "--regid=65534", "--clear-groups", MORVAK_BINARY};
    line.insert(line.end(), args.begin(), args.end());
    return tool::run(line, options);
}

// ---------------------------------------------------------------- files

// A private directory, on tmpfs when it has room (syncs cost nothing there;
// the tool wants 512 MiB free), else under /tmp.
tool::TempDir scratch() { return tool::TempDir::on_tmpfs_if_room(uint64_t{2} << 30); }

tool::Bytes slice(const tool::Bytes& b, size_t from, size_t n) {
    return tool::Bytes(b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), from)),
                       b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), from + n)));
}

// "" when the two files hold the same bytes, else their sizes and where and
// how they first differ. Only where either file holds data is compared: the
// large synthetic file is mostly hole, and its hole is never read.
std::string difference(const std::string& expected, const std::string& actual) {
    const uint64_t sa = tool::file_size(expected), sb = tool::file_size(actual);
    std::vector<tool::Extent> regions = tool::data_extents(expected);
    const std::vector<tool::Extent> more = tool::data_extents(actual);
    regions.insert(regions.end(), more.begin(), more.end());
    std::sort(regions.begin(), regions.end());
    const uint64_t common = std::min(sa, sb);
    for (const tool::Extent& r : regions) {
        const uint64_t end = std::min(r.second, common);
        for (uint64_t at = r.first; at < end; at += uint64_t{1} << 20) {
            const uint64_t len = std::min<uint64_t>(end - at, uint64_t{1} << 20);
            const tool::Bytes x = tool::read_range(expected, at, len), y = tool::read_range(actual, at, len);
            const auto m = std::mismatch(x.begin(), x.end(), y.begin(), y.end());
            if (m.first == x.end()) continue;
            const size_t i = static_cast<size_t>(m.first - x.begin());
            return "sizes " + std::to_string(sa) + " and " + std::to_string(sb) + ", first difference at " +
                   std::to_string(at + i) + ": expected " + atom_bytes::to_hex(slice(x, i, 8)) + ", found " +
                   atom_bytes::to_hex(slice(y, i, 8));
        }
    }
    if (sa != sb) return "sizes " + std::to_string(sa) + " and " + std::to_string(sb) + ", same common part";
    return "";
}

// ---------------------------------------------------------------- subjects

// Just past the size from which the new mdat header takes its 16-byte form;
// only the first few hundred bytes are written, the last mdat is a hole.
constexpr uint64_t kLargeSize = 0x7FFF0000 + 4096;

void make_large(const std::string& path) {
    std::vector<mp4b::Atom> atoms{mp4b::ftyp("isom", 512, {"isom", "iso2", "mp41"}),
                                  mp4b::movie({mp4b::minimal_track(1, "vide", 30000)}, true, {1}),
                                  mp4b::moof(1, 1, 0, 3, 20)};
    uint64_t written = 0;
    for (const mp4b::Atom& a : atoms) written += a.real_size();
    atoms.push_back(mp4b::raw("mdat").force_size(kLargeSize - written));
    mp4b::write_file(path, atoms, kLargeSize);
}

struct Subject {
    const char* name;
    const char* fixture;  // in the test data, or null for the large synthetic file
    bool every_errno;     // fail with ENOSPC too, not only EIO: the tool treats them alike
};

const Subject kSubjects[] = {
    {"AbsoluteOffsets", "empty_moov.mp4", true},
    {"BaseIsMoof", "base_is_moof.mp4", false},
    {"MoovWithSamples", "moov_with_samples.mp4", false},
    {"Large", nullptr, false},
};

void make_original(const Subject& s, const std::string& path) {
    if (s.fixture == nullptr) make_large(path);
    else tool::copy_file(tool::test_data_dir() + "/" + s.fixture, path);
}

std::vector<std::string> convert(const std::string& path) { return {"-f", path}; }
std::vector<std::string> undo(const std::string& path) { return {"--undo", "-f", path}; }

// The original and an uninterrupted conversion of it, side by side.
struct References {
    std::string original, converted;
};

References make_references(const Subject& s, const tool::TempDir& dir) {
    References r{dir.file("original.mp4"), dir.file("converted.mp4")};
    make_original(s, r.original);
    tool::copy_file(r.original, r.converted);
    const Outcome clean = run(convert(r.converted));
    if (clean.status != 0) throw std::runtime_error("clean conversion failed: " + clean.err);
    return r;
}

// ---------------------------------------------------------------- faults

struct FaultMode {
    const char* name;
    const char* mode;
    const char* error;
};

const FaultMode kModes[] = {
    {"kill", "kill", "EIO"},
    {"cut", "cut", "EIO"},
    {"fail-EIO", "fail", "EIO"},
    {"fail-ENOSPC", "fail", "ENOSPC"},
};

std::vector<std::string> fault_at(unsigned long k, const FaultMode& m) {
    return {"MORVAK_FAULT_AT=" + std::to_string(k), std::string("MORVAK_FAULT_MODE=") + m.mode,
            std::string("MORVAK_FAULT_ERRNO=") + m.error};
}

unsigned long mutating_calls(const std::vector<std::string>& job, const std::string& count_file) {
    const Outcome counted = run(job, {"MORVAK_FAULT_COUNT_FILE=" + count_file});
    if (counted.status != 0) throw std::runtime_error("counted run failed: " + counted.err);
    std::ifstream in(count_file);
    unsigned long n = 0;
    in >> n;
    return n;
}

// The file at `work`, as some interrupted run left it, must come back: an
// undo yields the original, a conversion (of a copy, at `other`) the bytes
// of an uninterrupted conversion. Returns how the two runs ended.
std::string expect_recoverable(const References& ref, const std::string& work, const std::string& other) {
    const bool left_original = difference(ref.original, work).empty();
    const bool left_converted = difference(ref.converted, work).empty();
    tool::copy_file(work, other);

    const Outcome undone = run(undo(work));
    EXPECT_EQ(difference(ref.original, work), "") << "--undo after the fault: " << undone.err;
    if (undone.status == 0) {
        EXPECT_EQ(undone.err, "");
    } else {
        // Refusing is right only when there was nothing to undo.
        EXPECT_TRUE(left_original) << undone.err;
        EXPECT_EQ(undone.status, 1);
        EXPECT_EQ(undone.err, kNothingToUndo);
    }
    const Outcome redone = run(convert(other));
    EXPECT_EQ(difference(ref.converted, other), "") << "conversion after the fault: " << redone.err;
    if (redone.status == 0) {
        EXPECT_EQ(redone.err, "");
    } else {
        // Refusing is right only when the file was converted already.
        EXPECT_TRUE(left_converted) << redone.err;
        EXPECT_EQ(redone.status, 1);
    }
    EXPECT_TRUE(undone.status == 0 || redone.status == 0) << "no run can recover the file";
    return "undo " + std::to_string(undone.status) + ", conversion " + std::to_string(redone.status);
}

struct Case {
    Subject subject;
    bool undo;  // the interrupted job: an undo of a converted file, else a conversion
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.subject.name << (c.undo ? " undo" : " conversion"); }

std::string case_name(const ::testing::TestParamInfo<Case>& p) {
    return std::string(p.param.subject.name) + (p.param.undo ? "Undo" : "Conversion");
}

// The job a case interrupts, its starting file and the file it ends with.
struct Job {
    const Case& c;
    const References& ref;
    std::vector<std::string> args(const std::string& path) const { return c.undo ? undo(path) : convert(path); }
    const std::string& start() const { return c.undo ? ref.converted : ref.original; }
    const std::string& finish() const { return c.undo ? ref.original : ref.converted; }
};

class CrashEnumeration : public ::testing::TestWithParam<Case> {};

TEST_P(CrashEnumeration, EveryMutatingCallRecovers) {
    const Case& c = GetParam();
    const tool::TempDir dir = scratch();
    const References ref = make_references(c.subject, dir);
    ASSERT_NE(difference(ref.original, ref.converted), "");
    const Job job{c, ref};
    const std::string work = dir.file("work.mp4"), other = dir.file("other.mp4");

    tool::copy_file(job.start(), work);
    const unsigned long calls = mutating_calls(job.args(work), dir.file("count"));
    ASSERT_GT(calls, 0u) << "the shim was not loaded";
    ASSERT_EQ(difference(job.finish(), work), "") << "the shim changed what a clean run does";

    unsigned long points = 0;
    std::map<std::string, int> outcomes;
    std::map<unsigned long, std::set<std::string>> failure_lines;  // by call
    const size_t modes = c.subject.every_errno ? std::size(kModes) : std::size(kModes) - 1;
    for (unsigned long k = 1; k <= calls; ++k) {
        for (const FaultMode& m : std::vector<FaultMode>(kModes, kModes + modes)) {
            SCOPED_TRACE(std::string(m.name) + " at call " + std::to_string(k) + " of " + std::to_string(calls));
            ++points;
            tool::copy_file(job.start(), work);
            const Outcome faulted = run(job.args(work), fault_at(k, m));
            if (std::strcmp(m.mode, "fail") == 0 && k == calls) {
                // The last call only makes the finished job's cleanup durable;
                // its failure does not undo the job.
                EXPECT_EQ(faulted.status, 0) << faulted.err;
                EXPECT_EQ(faulted.err, "");
                EXPECT_EQ(difference(job.finish(), work), "");
            } else if (std::strcmp(m.mode, "fail") == 0) {
                EXPECT_EQ(faulted.status, 1) << faulted.err;
                EXPECT_EQ(std::count(faulted.err.begin(), faulted.err.end(), '\n'), 1) << faulted.err;
                EXPECT_EQ(kFailureLines.count(faulted.err), 1u) << faulted.err;
                failure_lines[k].insert(faulted.err.substr(0, faulted.err.find('\n')));
            } else {
                EXPECT_EQ(faulted.status, kKilled) << faulted.err;
            }
            ++outcomes[expect_recoverable(ref, work, other)];
        }
    }

    std::string summary = std::to_string(points) + " crash points (" + std::to_string(calls) +
                          " mutating calls x " + std::to_string(modes) + " modes); recovery statuses:";
    for (const auto& [what, n] : outcomes) summary += " [" + what + "] x" + std::to_string(n) + ";";
    summary += " failure lines by call:";
    for (const auto& [k, lines] : failure_lines)
        for (const std::string& line : lines) summary += " " + std::to_string(k) + "=" + line + ";";
    std::printf("%s\n", summary.c_str());
    RecordProperty("crash_points", static_cast<int>(points));
}

std::vector<Case> all_cases() {
    std::vector<Case> cases;
    for (const Subject& s : kSubjects) {
        cases.push_back({s, false});
        cases.push_back({s, true});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CrashEnumeration, ::testing::ValuesIn(all_cases()), case_name);

// Files already looked at, so that a file that two crash points leave alike
// (a cut sync is a kill; a killed sync changes no byte) is checked once.
class DistinctFiles {
public:
    DistinctFiles(const tool::TempDir& dir, std::vector<std::string> known) : dir_(dir), files_(std::move(known)) {}
    // True the first time these bytes are offered; keeps a copy of them.
    bool add(const std::string& path) {
        for (const std::string& f : files_)
            if (difference(f, path).empty()) return false;
        files_.push_back(dir_.file("distinct" + std::to_string(files_.size()) + ".mp4"));
        tool::copy_file(path, files_.back());
        return true;
    }

private:
    const tool::TempDir& dir_;
    std::vector<std::string> files_;
};

// A run that recovers an interrupted one can itself be killed at any of its
// own calls; the run after that must still get the file back. Each file an
// interrupted run can leave with a journal is recovered by an undo and by a
// conversion, each killed in turn before each call of the recovery and
// before the first call after it.
class KilledDuringRecovery : public ::testing::TestWithParam<Case> {};

TEST_P(KilledDuringRecovery, NextRunStillRecovers) {
    const Case& c = GetParam();
    const tool::TempDir dir = scratch();
    const References ref = make_references(c.subject, dir);
    const Job job{c, ref};
    const std::string interrupted = dir.file("interrupted.mp4"), work = dir.file("work.mp4"),
                      other = dir.file("other.mp4");

    tool::copy_file(job.start(), work);
    const unsigned long calls = mutating_calls(job.args(work), dir.file("count"));
    // The original and the converted file are the single-crash test's business.
    DistinctFiles interrupted_files(dir, {ref.original, ref.converted});
    DistinctFiles checked(dir, {ref.original, ref.converted});
    unsigned long points = 0;
    for (unsigned long k1 = 1; k1 <= calls; ++k1) {
        for (const FaultMode& m : {kModes[0], kModes[1]}) {
            tool::copy_file(job.start(), interrupted);
            ASSERT_EQ(run(job.args(interrupted), fault_at(k1, m)).status, kKilled);
            if (!interrupted_files.add(interrupted)) continue;
            // An undo run stops right after the recovery; its calls are the recovery's.
            tool::copy_file(interrupted, work);
            const unsigned long recovery_calls = mutating_calls(undo(work), dir.file("count"));
            for (bool recover_by_undo : {true, false}) {
                for (unsigned long k2 = 1; k2 <= recovery_calls + (recover_by_undo ? 0 : 1); ++k2) {
                    SCOPED_TRACE(std::string(m.name) + " at call " + std::to_string(k1) + ", then " +
                                 (recover_by_undo ? "an undo" : "a conversion") + " killed at call " +
                                 std::to_string(k2));
                    ++points;
                    tool::copy_file(interrupted, work);
                    const Outcome killed =
                        run(recover_by_undo ? undo(work) : convert(work), fault_at(k2, kModes[0]));
                    EXPECT_EQ(killed.status, kKilled) << killed.err;
                    if (checked.add(work)) expect_recoverable(ref, work, other);
                }
            }
        }
    }
    std::printf("%lu double crash points\n", points);
    RecordProperty("crash_points", static_cast<int>(points));
}

INSTANTIATE_TEST_SUITE_P(Fixtures, KilledDuringRecovery,
                         ::testing::Values(Case{kSubjects[0], false}, Case{kSubjects[0], true}), case_name);

// ---------------------------------------------------------------- lock

struct LockCase {
    const char* name;
    bool undo;
    unsigned long killed_at;  // 0: a finished file; else a conversion killed before that call
    bool writer;              // the holder has the file open for writing, without the lock
};

void PrintTo(const LockCase& c, std::ostream* os) { *os << c.name; }

class Locked : public ::testing::TestWithParam<LockCase> {};

// A run that finds the file locked by another run, or open for writing in
// another program, must not touch it, not even to recover what looks like an
// interrupted run: the other one is still going.
TEST_P(Locked, RefusesAndLeavesFileUnchanged) {
    const LockCase& c = GetParam();
    const tool::TempDir dir = scratch();
    const References ref = make_references(kSubjects[0], dir);
    const std::string work = dir.file("work.mp4"), before = dir.file("before.mp4");
    tool::copy_file(c.undo && c.killed_at == 0 ? ref.converted : ref.original, work);
    if (c.killed_at != 0) {
        ASSERT_EQ(run(convert(work), fault_at(c.killed_at, kModes[0])).status, kKilled);
        ASSERT_NE(difference(ref.original, work), "");
    }
    tool::copy_file(work, before);

    const tool::Fd held(work, c.writer ? O_WRONLY : O_RDONLY);
    if (!c.writer) {
        ASSERT_EQ(flock(held.get(), LOCK_EX | LOCK_NB), 0);
    }
    const Outcome r = run(c.undo ? undo(work) : convert(work));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.writer ? kWrittenElsewhere : kInUse);
    EXPECT_EQ(difference(before, work), "");
}

INSTANTIATE_TEST_SUITE_P(Runs, Locked,
                         ::testing::Values(LockCase{"Conversion", false, 0, false}, LockCase{"Undo", true, 0, false},
                                           LockCase{"ConversionOverJournal", false, 6, false},
                                           LockCase{"UndoOverJournal", true, 6, false},
                                           LockCase{"ConversionWhileWritten", false, 0, true},
                                           LockCase{"UndoWhileWritten", true, 0, true},
                                           LockCase{"RecoveryWhileWritten", false, 6, true}),
                         [](const ::testing::TestParamInfo<LockCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------- other programs

// A program that opens the file for writing during a run (the shim starts
// it): before the run's first write it is noticed and the run refused; after
// it, its open waits until the run is complete. Run as another user the tool
// may not take a lease on the file and looks through /proc instead.
struct WriterCase {
    const char* name;
    const char* writer_at;  // when the shim starts the writer; "" never
    bool undo;
    bool as_nobody;
    bool refused;
};

void PrintTo(const WriterCase& c, std::ostream* os) { *os << c.name; }

class OtherWriter : public ::testing::TestWithParam<WriterCase> {};

TEST_P(OtherWriter, NoticedBeforeTheFirstWriteOrKeptWaiting) {
    const WriterCase& c = GetParam();
    if (c.as_nobody && geteuid() != 0) GTEST_SKIP() << "running the tool as another user needs root";
    const tool::TempDir dir = scratch();
    const References ref = make_references(kSubjects[0], dir);
    const Job job{Case{kSubjects[0], c.undo}, ref};
    const std::string work = dir.file("work.mp4"), report = dir.file("report");
    tool::copy_file(job.start(), work);
    if (c.as_nobody) {
        ASSERT_TRUE(chmod(dir.path().c_str(), 0777) == 0 && chmod(work.c_str(), 0666) == 0);
    }

    const Outcome r = run(job.args(work),
                          {"MORVAK_FAULT_WRITER=" + work, std::string("MORVAK_FAULT_WRITER_AT=") + c.writer_at,
                           "MORVAK_FAULT_WRITER_REPORT=" + report},
                          c.as_nobody);
    EXPECT_EQ(r.status, c.refused ? 1 : 0) << r.err;
    EXPECT_EQ(r.err, c.refused ? kWrittenElsewhere : "");
    EXPECT_EQ(difference(c.refused ? job.start() : job.finish(), work), "");
    if (c.refused || *c.writer_at == '\0') return;
    // The writer's open returned only once the run was complete.
    std::string seen;
    for (int i = 0; i < 1000 && seen.empty(); ++i) {
        std::ifstream(report) >> seen;
        if (seen.empty()) usleep(10000);
    }
    EXPECT_EQ(seen, std::to_string(tool::file_size(job.finish())));
}

INSTANTIATE_TEST_SUITE_P(Runs, OtherWriter,
                         ::testing::Values(WriterCase{"WhileConverting", "read:1", false, false, true},
                                           WriterCase{"WhileUndoing", "read:4", true, false, true},
                                           WriterCase{"AfterConversionWritesBegan", "change:1", false, false, false},
                                           WriterCase{"AfterUndoWritesBegan", "change:2", true, false, false},
                                           WriterCase{"NotOwnerWhileConverting", "read:1", false, true, true},
                                           WriterCase{"NotOwnerAlone", "", false, true, false}),
                         [](const ::testing::TestParamInfo<WriterCase>& p) { return std::string(p.param.name); });

// Programs that only read the file (a player) do not stand in the way.
TEST(OtherReader, DoesNotBlockARun) {
    const tool::TempDir dir = scratch();
    const References ref = make_references(kSubjects[0], dir);
    const std::string work = dir.file("work.mp4");
    tool::copy_file(ref.original, work);
    const tool::Fd reader(work, O_RDONLY);
    const Outcome converted = run(convert(work));
    EXPECT_EQ(converted.status, 0) << converted.err;
    EXPECT_EQ(difference(ref.converted, work), "");
    const Outcome undone = run(undo(work));
    EXPECT_EQ(undone.status, 0) << undone.err;
    EXPECT_EQ(difference(ref.original, work), "");
}

}  // namespace
