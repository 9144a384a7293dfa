// What lies around the file: its file system (the free-space threshold of
// 512 MiB, a read-only mount) and another program recording into it.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/file_atoms.h"
#include "tests/support/media.h"
#include "tests/support/mp4_builder.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// Each direction refused with `message` and the file left as it was.
void expect_refused(const std::string& path, const std::string& message) {
    const tool::Bytes before = tool::read_file(path);
    for (const char* switches : {"--dbg-move-moov", "--undo"}) {
        const tool::Result r = tool::run({switches, "-f", path});
        EXPECT_EQ(std::make_pair(r.status, r.out + r.err), std::make_pair(1, message)) << switches;
    }
    EXPECT_EQ(tool::read_file(path), before);
}

// Tmpfs mounts (which need root) of 512 MiB and a page and of 512 MiB, a
// small fragmented file taking one page of each: exactly 512 MiB free is
// enough, one page less is not. Then one of 1 MiB remounted read-only, as
// root may write any file whatever its mode.
TEST(FileSystem, FreeSpaceThresholdAndReadOnlyMount) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    for (const uint64_t size : {512 * kMiB + page, 512 * kMiB, kMiB}) {
        tool::TempDir dir;
        const std::string options = "size=" + std::to_string(size), file = dir.file("frag.mp4");
        if (geteuid() != 0 || mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options.c_str()) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
        mp4b::write_file(file, {mp4b::ftyp("isom", 0, {"isom"}), mp4b::moov_with_payload(400, true),
                                mp4b::moof(1, 1, 0, 3, 20), mp4b::raw_of_size("mdat", 60)});
        EXPECT_EQ(std::filesystem::space(dir.path()).available, size - page) << "tmpfs counts space differently here";
        if (size == kMiB) {
            EXPECT_EQ(mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, options.c_str()), 0);
            expect_refused(file, "Unable to open file for r/w\n");
        } else if (size == 512 * kMiB) {
            expect_refused(file, "Not enough free space around file\n");
        } else {
            EXPECT_EQ(tool::run({"-f", file}).status, 0);
        }
        umount2(dir.path().c_str(), MNT_DETACH);
    }
}

// ffmpeg records a fragmented file in real time, flushing every packet, and
// a run in the middle is refused in both directions. Once the recorder has
// finished, its file is whole: ffmpeg reads every frame of it without a
// word, no undo record was left in it, and it converts.
TEST(LiveRecording, RefusedWhileRecordedAndWholeAfterwards) {
    tool::TempDir dir;
    const std::string path = dir.file("live.mp4");
    tool::Result recorded;
    std::atomic<bool> finished{false};
    // 40 frames in 4 s, a fragment every 5.
    std::thread recorder([&] {
        recorded = tool::run({"-nostdin", "-v", "error", "-y", "-re", "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                              "-t", "4", "-c:v", "mpeg4", "-g", "5", "-flush_packets", "1", "-movflags",
                              "+frag_keyframe+empty_moov", path},
                             {60, {}, "ffmpeg"});
        finished = true;
    });
    auto moofs = [&] { return access(path.c_str(), F_OK) == 0 ? fa::all_of(fa::atom_tree(path), "moof").size() : 0; };
    while (!finished && moofs() < 2) usleep(10000);
    const tool::Result forward = tool::run({"-f", path}), undo = tool::run({"--undo", "-f", path});
    const bool ran_while_recording = !finished;
    recorder.join();
    ASSERT_TRUE(ran_while_recording) << "the recording ended before the tool could run";
    ASSERT_EQ(recorded.status, 0) << recorded.err;
    for (const tool::Result& r : {forward, undo})
        EXPECT_EQ(std::make_pair(r.status, r.err),
                  std::make_pair(1, std::string("File is open for writing in another program\n")));

    const std::string frames = media::frame_digests(path);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 40) << frames;
    EXPECT_EQ(media::ffmpeg_complaints(path), "");
    EXPECT_TRUE(fa::all_of(fa::atom_tree(path), "TOLV").empty());
    EXPECT_EQ(tool::run({"-f", path}).status, 0);
}

}  // namespace
