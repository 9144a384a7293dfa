// A recording still being written: ffmpeg records a fragmented file in real
// time, flushing every packet, and a run in the middle is refused in both
// directions. Once the recorder has finished, its file is whole: ffmpeg reads
// every frame of it without a word, no undo record was left in it, and it
// converts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/support/file_atoms.h"
#include "tests/support/media.h"

namespace {

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
        EXPECT_EQ(std::make_pair(r.status, r.err), std::make_pair(1, std::string("File is open for writing in another program\n")));

    const std::string frames = media::frame_digests(path);
    EXPECT_EQ(std::count(frames.begin(), frames.end(), '\n'), 40) << frames;
    EXPECT_EQ(media::ffmpeg_complaints(path), "");
    EXPECT_TRUE(fa::all_of(fa::atom_tree(path), "TOLV").empty());
    EXPECT_EQ(tool::run({"-f", path}).status, 0);
}

}  // namespace
