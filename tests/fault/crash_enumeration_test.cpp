// Crash safety by enumeration, and the run's claim to be the file's only
// writer. A clean run under the fault shim counts the calls that change the
// file; then each in turn kills the process, writes half its bytes and kills
// it, or fails with EIO. Whatever that leaves, the next run must bring the
// file back: --undo to the original bytes, a conversion to the bytes of an
// uninterrupted conversion; and so must the run after one killed while it
// recovered.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <set>

#include "tests/support/tool_runner.h"

namespace {

using Args = std::vector<std::string>;

constexpr int kKilled = 128 + SIGKILL;
const char kInUse[] = "File is in use by another run of morvak_fragflat\n";
const char kWrittenElsewhere[] = "File is open for writing in another program\n";

// The tool, with the fault shim preloaded when there are shim settings. As
// the user nobody when given `nobody_dir`, where copies of both were put: the
// build folder may lie where nobody cannot enter (a clone in /root).
tool::Result run(Args args, const Args& shim = {}, const std::string& nobody_dir = "") {
    const bool as_nobody = !nobody_dir.empty();
    tool::RunOptions options;
    // A sanitized tool refuses a preloaded library unless told not to check.
    options.env = {"LD_PRELOAD", tool::asan_options_with("verify_asan_link_order=0")};
    if (!shim.empty())
        options.env.push_back("LD_PRELOAD=" + (as_nobody ? nobody_dir + "/fault_shim.so" : MORVAK_FAULT_SHIM));
    options.env.insert(options.env.end(), shim.begin(), shim.end());
    if (as_nobody) {
        options.program = "setpriv";
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", nobody_dir + "/morvak_fragflat"});
    }
    return tool::run(args, options);
}

// `dir` and its `file` open to every user, with copies of the tool and the
// shim that the user nobody may run.
std::string open_to_nobody(const tool::TempDir& dir, const std::string& file) {
    EXPECT_EQ(chmod(dir.path().c_str(), 0777) | chmod(file.c_str(), 0666), 0);
    for (const auto& [from, to] : {std::pair(MORVAK_BINARY, "morvak_fragflat"), {MORVAK_FAULT_SHIM, "fault_shim.so"}}) {
        tool::copy_file(from, dir.file(to));
        EXPECT_EQ(chmod(dir.file(to).c_str(), 0755), 0);
    }
    return dir.path();
}

Args fault(unsigned long k, const std::string& mode) {
    return {"MORVAK_FAULT_AT=" + std::to_string(k), "MORVAK_FAULT_MODE=" + mode};
}

Args job(bool undo, const std::string& path) { return undo ? Args{"--undo", "-f", path} : Args{"-f", path}; }

// syncs cost nothing on tmpfs; the tool wants 512 MiB free.
tool::TempDir scratch() { return tool::TempDir::on_tmpfs_if_room(uint64_t{1} << 30); }

// A real recording (false) and its uninterrupted conversion (true), made once.
const std::string& reference(bool converted) {
    static const tool::TempDir dir = scratch();
    static const std::string paths[] = {dir.file("original.mp4"), dir.file("converted.mp4")};
    static const int made = [] {
        tool::copy_file(tool::test_data_dir() + "/empty_moov.mp4", paths[0]);
        tool::copy_file(paths[0], paths[1]);
        return run(job(false, paths[1])).status;
    }();
    EXPECT_EQ(made, 0) << "the clean conversion";
    return paths[converted];
}

std::string differs(const std::string& expected, const std::string& actual) {
    return tool::difference(tool::read_file(expected), tool::read_file(actual));
}

unsigned long counted_calls(const Args& args, const std::string& count_file) {
    EXPECT_EQ(run(args, {"MORVAK_FAULT_COUNT_FILE=" + count_file}).status, 0);
    unsigned long n = 0;
    std::ifstream(count_file) >> n;
    return n;
}

// A file an interrupted run left (neither the original nor the converted
// file): an undo of it gives the original, a conversion the converted bytes.
void expect_recoverable(const std::string& path) {
    const std::string undone = path + ".undone", redone = path + ".redone";
    tool::copy_file(path, undone);
    tool::copy_file(path, redone);
    const tool::Result u = run(job(true, undone)), r = run(job(false, redone));
    EXPECT_EQ(u.status, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(u.err + r.err, "");
    EXPECT_EQ(differs(reference(false), undone), "") << "an undo after the fault";
    EXPECT_EQ(differs(reference(true), redone), "") << "a conversion after the fault";
}

// The calls of a clean run in order, by the line their failure prints; the
// last only makes the finished job's end durable, and its failure is ignored.
const std::vector<std::string> kConversionCalls = {
    "Failed to append saved moov", "Failed to sync file", "Failed to append saved moov", "Failed to write new moov atom",
    "Failed to sync file", "Failed to overwrite mdat", "Failed to overwrite moov", "Failed to write VERS",
    "Failed to write final zero", "Failed to sync file", "File size truncate failed", ""};
const std::vector<std::string> kUndoCalls = {"Unable to restore moov atom header", "Failed to sync file",
                                             "Unable to restore moov atom header", "Failed to sync file",
                                             "File size truncate failed", ""};

class CrashEnumeration : public ::testing::TestWithParam<bool> {};  // the interrupted job is an undo

// Each new file a killed run leaves is also recovered by an undo and by a
// conversion killed in turn at each call of the recovery and at the first
// call after it. Files met before are known to recover.
TEST_P(CrashEnumeration, EveryCallRecovers) {
    const bool undo = GetParam();
    const std::vector<std::string>& lines = undo ? kUndoCalls : kConversionCalls;
    const tool::TempDir dir = scratch();
    const std::string work = dir.file("work.mp4"), again = dir.file("again.mp4");
    tool::copy_file(reference(undo), work);
    ASSERT_EQ(counted_calls(job(undo, work), dir.file("count")), lines.size());
    ASSERT_EQ(differs(reference(!undo), work), "") << "the shim changed what a clean run does";
    std::set<tool::Bytes> seen{tool::read_file(reference(false)), tool::read_file(reference(true))};
    for (unsigned long k = 1; k <= lines.size(); ++k) {
        for (const std::string mode : {"kill", "cut", "fail"}) {
            SCOPED_TRACE(mode + " at call " + std::to_string(k));
            tool::copy_file(reference(undo), work);
            const tool::Result r = run(job(undo, work), fault(k, mode));
            EXPECT_EQ(r.status, mode != "fail" ? kKilled : lines[k - 1].empty() ? 0 : 1);
            EXPECT_EQ(r.err, mode != "fail" || lines[k - 1].empty() ? "" : lines[k - 1] + "\n");
            // A failed conversion takes itself back at once (a failed undo leaves its journal to the next run).
            if (mode == "fail" && !undo) { EXPECT_EQ(differs(reference(lines[k - 1].empty()), work), ""); }
            if (!seen.insert(tool::read_file(work)).second) continue;
            expect_recoverable(work);
            if (mode == "fail") continue;
            tool::copy_file(work, again);
            const unsigned long recovery_calls = counted_calls(job(true, again), dir.file("count"));
            for (unsigned long k2 = 1; k2 <= 2 * recovery_calls + 1; ++k2) {
                const bool by_undo = k2 <= recovery_calls;
                SCOPED_TRACE(std::string(by_undo ? "an undo" : "a conversion") + " killed at its call " +
                             std::to_string(by_undo ? k2 : k2 - recovery_calls));
                tool::copy_file(work, again);
                EXPECT_EQ(run(job(by_undo, again), fault(by_undo ? k2 : k2 - recovery_calls, "kill")).status, kKilled);
                if (seen.insert(tool::read_file(again)).second) expect_recoverable(again);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Jobs, CrashEnumeration, ::testing::Values(false, true),
                         [](const auto& p) { return std::string(p.param ? "Undo" : "Conversion"); });

// Another run or another program holding the file: a run refuses and leaves
// the file as it was, an interrupted run's recovery included; a writer that
// opens the file once the writes have begun waits for the run's end; a
// reader does not stand in the way. As another user the tool cannot take a
// lease and looks through /proc instead.
TEST(OtherHolders, RefusedOrKeptWaiting) {
    // holder: the test holds the file open ("read", "write"; "lock": as another run does), or runs the tool
    // as another user ("nobody"); writer_at: when the shim starts a writer; killed_at: the run starts from a
    // conversion killed before that call.
    const struct { const char *what, *holder, *writer_at; bool undo; unsigned long killed_at; const char* refusal; }
    rows[] = {
        {"another run", "lock", "", false, 0, kInUse},
        {"another run, over a journal", "lock", "", true, 6, kInUse},
        {"a writer", "write", "", true, 0, kWrittenElsewhere},
        {"a writer, over a journal", "write", "", false, 6, kWrittenElsewhere},
        {"a reader", "read", "", false, 0, ""},
        {"a writer before the first write", "", "read:1", false, 0, kWrittenElsewhere},
        {"a writer before the undo's first write", "", "read:4", true, 0, kWrittenElsewhere},
        {"a writer after the first write", "", "change:1", false, 0, ""},
        {"not the owner, a writer", "nobody", "read:1", false, 0, kWrittenElsewhere},
        {"not the owner, alone", "nobody", "", false, 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string holder = row.holder, refusal = row.refusal;
        if (holder == "nobody" && geteuid() != 0) continue;  // running as another user needs root
        const tool::TempDir dir = scratch();
        const std::string work = dir.file("work.mp4"), start = dir.file("start.mp4"), report = dir.file("report");
        tool::copy_file(reference(row.undo && row.killed_at == 0), start);
        EXPECT_TRUE(row.killed_at == 0 || run(job(false, start), fault(row.killed_at, "kill")).status == kKilled);
        tool::copy_file(start, work);
        std::optional<tool::Fd> held;
        if (!holder.empty() && holder != "nobody") held.emplace(work, holder == "write" ? O_WRONLY : O_RDONLY);
        EXPECT_TRUE(holder != "lock" || flock(held->get(), LOCK_EX | LOCK_NB) == 0);
        const std::string nobody_dir = holder == "nobody" ? open_to_nobody(dir, work) : "";
        const Args writer = {"MORVAK_FAULT_WRITER=" + work, std::string("MORVAK_FAULT_WRITER_AT=") + row.writer_at,
                             "MORVAK_FAULT_WRITER_REPORT=" + report};
        const tool::Result r = run(job(row.undo, work), *row.writer_at ? writer : Args{}, nobody_dir);
        EXPECT_EQ(r.status, refusal.empty() ? 0 : 1);
        EXPECT_EQ(r.err, refusal);
        EXPECT_EQ(differs(refusal.empty() ? reference(!row.undo) : start, work), "");
        if (!refusal.empty() || *row.writer_at == '\0') continue;
        std::string seen;  // the size the writer found once its open returned: after the run
        for (int i = 0; i < 1000 && seen.empty(); ++i) {
            std::ifstream(report) >> seen;
            if (seen.empty()) usleep(10000);
        }
        EXPECT_EQ(seen, std::to_string(tool::file_size(reference(!row.undo))));
    }
}

}  // namespace
