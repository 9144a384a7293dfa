// Crash safety by enumeration, and the run's claim to be the file's only
// writer. A clean run under the fault shim counts the calls that change the
// file; then each in turn kills the process, writes half its bytes and kills
// it, fails with EIO, or runs out of room (ENOSPC after half a write). So for
// a conversion and an undo of two files, a real recording (8-byte mdat
// header) and a sparse one past 4 GiB (16-byte header), and, on each new
// file they leave, for each call of the recovery the next run makes.
// Whatever is left, the next --undo must give the original bytes and the
// next conversion those of an uninterrupted one, or refuse and leave the
// file as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "tests/support/file_atoms.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

using Args = std::vector<std::string>;
using tool::Bytes;

constexpr int kKilled = 128 + SIGKILL;
const char kInUse[] = "File is in use by another run of morvak_fragflat\n";
const char kWrittenElsewhere[] = "File is open for writing in another program\n";
const char kNotRecovered[] = "Cannot recover from an interrupted run";

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

// syncs cost nothing on tmpfs, which keeps holes; the tool wants 512 MiB free.
tool::TempDir scratch() { return tool::TempDir::on_tmpfs_if_room(uint64_t{1} << 30); }

// A file as its size and its 4 KiB blocks that hold more than zeros: equal
// files have equal images wherever their holes lie, and a file past 4 GiB
// that is mostly hole is read and written in a few calls.
struct Image {
    static constexpr uint64_t kBlock = 4096;
    uint64_t size = 0;
    std::map<uint64_t, Bytes> blocks;

    bool operator==(const Image& o) const { return size == o.size && blocks == o.blocks; }
    bool operator<(const Image& o) const { return std::tie(size, blocks) < std::tie(o.size, o.blocks); }

    // Up to `n` bytes from `at`, fewer where the file ends.
    Bytes range(uint64_t at, uint64_t n) const {
        Bytes out(static_cast<size_t>(at < size ? std::min(n, size - at) : 0));
        for (auto b = blocks.lower_bound(at / kBlock * kBlock); b != blocks.end() && b->first < at + out.size(); ++b) {
            for (uint64_t i = std::max(at, b->first); i < std::min(at + out.size(), b->first + b->second.size()); ++i)
                out[static_cast<size_t>(i - at)] = b->second[static_cast<size_t>(i - b->first)];
        }
        return out;
    }
};

// Only the file's data extents are read (SEEK_DATA, SEEK_HOLE).
Image read_image(const std::string& path) {
    const tool::Fd fd(path, O_RDONLY);
    Image image{tool::file_size(path), {}};
    const auto size = static_cast<off_t>(image.size);
    for (off_t at = lseek(fd.get(), 0, SEEK_DATA); at >= 0 && at < size; at = lseek(fd.get(), at, SEEK_DATA)) {
        const off_t end = std::min(lseek(fd.get(), at, SEEK_HOLE), size);
        for (uint64_t b = static_cast<uint64_t>(at) / Image::kBlock * Image::kBlock; b < static_cast<uint64_t>(end);
             b += Image::kBlock) {
            Bytes block(static_cast<size_t>(std::min(Image::kBlock, image.size - b)));
            if (pread(fd.get(), block.data(), block.size(), static_cast<off_t>(b)) != static_cast<ssize_t>(block.size()))
                tool::fail("read " + path);
            if (std::any_of(block.begin(), block.end(), [](unsigned char c) { return c != 0; }))
                image.blocks.emplace(b, std::move(block));
        }
        at = end;
    }
    return image;
}

// Replaces `path` with a file of the image's bytes, sparse where it is zero.
void write_image(const Image& image, const std::string& path) {
    const tool::Fd fd(path, O_WRONLY | O_CREAT | O_TRUNC);
    if (ftruncate(fd.get(), static_cast<off_t>(image.size)) != 0) tool::fail("truncate " + path);
    for (const auto& [at, bytes] : image.blocks)
        if (pwrite(fd.get(), bytes.data(), bytes.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(bytes.size()))
            tool::fail("write " + path);
}

// "" when equal, else the sizes and the first offset where they differ, with
// 16 bytes of each from there.
std::string difference(const Image& expected, const Image& actual) {
    std::set<uint64_t> blocks;
    for (const Image* image : {&expected, &actual})
        for (const auto& b : image->blocks) blocks.insert(b.first);
    const std::string sizes = "sizes " + std::to_string(expected.size) + " and " + std::to_string(actual.size);
    for (const uint64_t b : blocks) {
        const Bytes x = expected.range(b, Image::kBlock), y = actual.range(b, Image::kBlock);
        const size_t n = std::min(x.size(), y.size());
        const auto i = static_cast<uint64_t>(std::mismatch(x.begin(), x.begin() + static_cast<long>(n), y.begin()).first - x.begin());
        if (i == n) continue;
        return sizes + ", first difference at " + std::to_string(b + i) + ": expected " +
               atom_bytes::to_hex(expected.range(b + i, 16)) + ", found " + atom_bytes::to_hex(actual.range(b + i, 16));
    }
    return expected.size == actual.size ? "" : sizes + ", alike up to the shorter end";
}

// A video track in two fragments, the second past 4 GiB behind a hole in a
// 16-byte-header mdat: the converted file gets the 16-byte mdat header too.
void make_past_4gib(const std::string& path) {
    using namespace mp4b;
    const uint64_t far = (uint64_t{1} << 32) + 4096;
    const Bytes head = serialise({ftyp("isom", 0, {"isom"}), movie({minimal_track(1, "vide", 90000)}, true, {1}),
                                  mp4b::moof(1, 1, 0, 4, 100), raw_of_size("mdat", 400, 0x11)});
    tool::write_range(path, 0, head);
    tool::write_range(path, head.size(), serialise(raw("mdat").make_large().force_size(far - head.size())));
    tool::write_range(path, far, serialise({mp4b::moof(2, 1, 4 * 3000, 4, 100), raw_of_size("mdat", 400, 0x22)}));
}

// A file (false: the real recording; true: the one past 4 GiB) and its
// uninterrupted conversion, made once.
struct Recording { Image original, converted; };

const Recording& recording(bool past_4gib) {
    static const tool::TempDir dir = scratch();
    static std::map<bool, Recording> made;
    if (const auto it = made.find(past_4gib); it != made.end()) return it->second;
    const std::string path = dir.file(past_4gib ? "far.mp4" : "near.mp4");
    if (past_4gib) make_past_4gib(path);
    else tool::copy_file(tool::test_data_dir() + "/empty_moov.mp4", path);
    Recording r{read_image(path), {}};
    const tool::Result clean = run(job(false, path));
    EXPECT_EQ(clean.status, 0) << clean.err;
    EXPECT_EQ(clean.err, "");
    r.converted = read_image(path);
    EXPECT_EQ(fa::find(fa::atom_tree(path), "mdat").header, past_4gib ? 16u : 8u) << "the form the file is there for";
    return made.emplace(past_4gib, std::move(r)).first->second;
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
const char* const kModes[] = {"kill", "cut", "fail", "nospace"};

struct Case {
    const char* name;
    bool past_4gib;
    bool undo;  // the interrupted job, on the converted file; else a conversion of the original
};

const Case kCases[] = {
    {"RecordingConversion", false, false},
    {"RecordingUndo", false, true},
    {"Past4GiBConversion", true, false},
    {"Past4GiBUndo", true, true},
};

// What the next --undo and the next conversion made of a file a fault left.
struct Ends {
    std::string undo, conversion;  // "restored", "converted", or "refused untouched"
    unsigned long undo_calls = 0;  // that undo made: on a file with a journal, the recovery's first
};

// The points of one case, and what the runs after them made of each file
// left. Each distinct file is judged once, and its recovery enumerated once.
class Enumeration {
public:
    Enumeration(const Recording& r, bool undo) : r_(r), undo_(undo) {}

    const tool::TempDir& dir() const { return dir_; }
    const Image& start() const { return undo_ ? r_.converted : r_.original; }
    const Image& finish() const { return undo_ ? r_.original : r_.converted; }

    // The job on `from`, faulted at call k: its status, its message, the file
    // it left, and how the next runs end, counted under `subject`.
    Image point(const std::string& subject, const Image& from, unsigned long k, const std::string& mode, int status,
                const std::string& err) {
        const std::string work = dir_.file("work.mp4");
        write_image(from, work);
        const tool::Result r = run(job(undo_, work), fault(k, mode));
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.err, err);
        Image left = read_image(work);
        const auto judged = judge(left);
        Tally& t = tally_[subject];
        ++t.points;
        t.files.insert(&judged->first);
        ++t.undo[judged->second.undo];
        ++t.conversion[judged->second.conversion];
        return left;
    }

    // The job asked again on a file an interrupted run left, faulted in turn
    // at each call of its recovery; once per distinct file. The recovery
    // writes the saved moov back and syncs when it has to, then truncates and
    // syncs (at most 4 calls); an undo cut short before its first change is
    // finished after that, whichever job was asked.
    void recovery(const std::string& subject, const Image& left) {
        if (left == r_.original || left == r_.converted || !recovered_.insert(left).second) return;
        const unsigned long calls = judge(left)->second.undo_calls;
        const unsigned long own = calls > 4 ? calls - kUndoCalls.size() : calls;
        for (unsigned long k = 1; k <= calls; ++k) {
            for (const std::string mode : kModes) {
                SCOPED_TRACE(subject + ", " + mode + " at its call " + std::to_string(k) + " of " + std::to_string(calls));
                const bool killed = mode == "kill" || mode == "cut";
                // A failed call of the recovery, or of the undo it finishes (whose last sync is ignored).
                const std::string line = killed ? "" : k <= own ? kNotRecovered : kUndoCalls.at(k - own - 1);
                point(subject, left, k, mode, killed ? kKilled : line.empty() ? 0 : 1, line.empty() ? "" : line + "\n");
            }
        }
    }

    // Per subject: its points, the distinct files they left, and how the next
    // undo and the next conversion ended.
    std::string summary() const {
        const auto list = [](const std::map<std::string, unsigned>& ends) {
            std::string out;
            for (const auto& [end, n] : ends) out += (out.empty() ? "" : ", ") + end + " " + std::to_string(n);
            return out;
        };
        std::string out;
        for (const auto& [subject, t] : tally_) {
            out += subject + ": " + std::to_string(t.points) + " points, " + std::to_string(t.files.size()) +
                   " distinct files left; next undo: " + list(t.undo) + "; next conversion: " + list(t.conversion) + "\n";
        }
        return out;
    }

private:
    // The next --undo and conversion, each on its own copy: restored or
    // converted exactly, or refused with the copy as it was. A file that is
    // neither the original nor its conversion holds a journal: both must
    // recover it. A dry run before each says what it will say and ends as
    // it will end, and writes nothing.
    std::map<Image, Ends>::const_iterator judge(const Image& left) {
        if (const auto it = judged_.find(left); it != judged_.end()) return it;
        Ends ends;
        for (const bool undo : {true, false}) {
            const std::string path = dir_.file(undo ? "undone.mp4" : "redone.mp4"), count = dir_.file("count");
            write_image(left, path);
            Args dry = job(undo, path);
            dry.insert(dry.begin(), "--dry-run");
            const tool::Result d = run(dry);
            EXPECT_TRUE(read_image(path) == left) << "a dry run changed the file";
            const tool::Result r = run(job(undo, path), undo ? Args{"MORVAK_FAULT_COUNT_FILE=" + count} : Args{});
            EXPECT_EQ(d.status, r.status);
            EXPECT_EQ(d.err, r.err);
            const Image after = read_image(path);
            const Image& wanted = undo ? r_.original : r_.converted;
            std::string& end = undo ? ends.undo : ends.conversion;
            if (r.status == 0 && r.err.empty() && after == wanted) {
                end = undo ? "restored" : "converted";
            } else if (r.status == 1 && after == left) {
                end = "refused untouched";
            } else {
                end = "lost";
                ADD_FAILURE() << (undo ? "the next undo" : "the next conversion") << " ended " << r.status << ": "
                              << r.err << "against the expected file: " << difference(wanted, after)
                              << "\nagainst the file before it: " << difference(left, after);
            }
            if (undo) std::ifstream(count) >> ends.undo_calls;
        }
        if (!(left == r_.original) && !(left == r_.converted)) {
            EXPECT_EQ(ends.undo + ", " + ends.conversion, "restored, converted") << "a file left with its journal";
        }
        return judged_.emplace(left, ends).first;
    }

    struct Tally {
        unsigned points = 0;
        std::set<const Image*> files;
        std::map<std::string, unsigned> undo, conversion;
    };

    const Recording& r_;
    const bool undo_;
    const tool::TempDir dir_ = scratch();
    std::map<Image, Ends> judged_;
    std::set<Image> recovered_;
    std::map<std::string, Tally> tally_;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class CrashEnumeration : public ::testing::TestWithParam<Case> {};

TEST_P(CrashEnumeration, EveryCallRecovers) {
    const Case& c = GetParam();
    const std::string subject = std::string(c.undo ? "undo" : "conversion") + (c.past_4gib ? " past 4 GiB" : "");
    Enumeration e(recording(c.past_4gib), c.undo);
    const std::vector<std::string>& lines = c.undo ? kUndoCalls : kConversionCalls;

    const std::string work = e.dir().file("work.mp4"), count = e.dir().file("count");
    write_image(e.start(), work);
    ASSERT_EQ(run(job(c.undo, work), {"MORVAK_FAULT_COUNT_FILE=" + count}).status, 0);
    unsigned long calls = 0;
    std::ifstream(count) >> calls;
    ASSERT_EQ(calls, lines.size());
    ASSERT_EQ(difference(e.finish(), read_image(work)), "") << "the shim changed what a clean run does";

    for (unsigned long k = 1; k <= lines.size(); ++k) {
        for (const std::string mode : kModes) {
            SCOPED_TRACE(subject + ", " + mode + " at call " + std::to_string(k));
            const bool killed = mode == "kill" || mode == "cut", ignored = lines[k - 1].empty();
            const Image left = e.point(subject, e.start(), k, mode, killed ? kKilled : ignored ? 0 : 1,
                                       killed || ignored ? "" : lines[k - 1] + "\n");
            // A failed conversion takes itself back at once (a failed undo leaves its journal to the next run).
            if (!killed && !c.undo) {
                EXPECT_EQ(difference(ignored ? e.finish() : e.start(), left), "");
            }
            e.recovery("recovery after " + std::string(c.undo ? "an " : "a ") + subject, left);
        }
    }
    const std::string summary = e.summary();
    std::cout << summary;
    RecordProperty("points", summary);
}

INSTANTIATE_TEST_SUITE_P(Jobs, CrashEnumeration, ::testing::ValuesIn(kCases),
                         [](const auto& p) { return std::string(p.param.name); });

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
    const Recording& rec = recording(false);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::string holder = row.holder, refusal = row.refusal;
        if (holder == "nobody" && geteuid() != 0) continue;  // running as another user needs root
        const tool::TempDir dir = scratch();
        const std::string work = dir.file("work.mp4"), start = dir.file("start.mp4"), report = dir.file("report");
        write_image(row.undo && row.killed_at == 0 ? rec.converted : rec.original, start);
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
        const Image& done = row.undo ? rec.original : rec.converted;
        EXPECT_EQ(difference(refusal.empty() ? done : read_image(start), read_image(work)), "");
        if (!refusal.empty() || *row.writer_at == '\0') continue;
        std::string seen;  // the size the writer found once its open returned: after the run
        for (int i = 0; i < 1000 && seen.empty(); ++i) {
            std::ifstream(report) >> seen;
            if (seen.empty()) usleep(10000);
        }
        EXPECT_EQ(seen, std::to_string(done.size));
    }
}

}  // namespace
