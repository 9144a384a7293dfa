// A recording still being written: ffmpeg records a fragmented file in real
// time, flushing every packet, and a run in the middle is refused in both
// directions. Once the recorder has finished, its file is whole: ffmpeg reads
// every frame of it without a word, and no undo record was left in it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/tool_runner.h"

extern char** environ;

namespace {

constexpr int kFrames = 40;  // 4 s at 10 frames a second, a fragment every 5

// ffmpeg recording test pictures into `path` in the background.
class Recorder {
public:
    explicit Recorder(const std::string& path) {
        std::vector<std::string> args = {"ffmpeg", "-nostdin", "-v", "error", "-y", "-re",
                                         "-f", "lavfi", "-i", "testsrc=size=160x120:rate=10",
                                         "-t", "4", "-c:v", "mpeg4", "-g", "5", "-flush_packets", "1",
                                         "-movflags", "+frag_keyframe+empty_moov", path};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
        if (posix_spawnp(&pid_, "ffmpeg", &quiet, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&quiet);
    }
    ~Recorder() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        finish();
    }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    bool started() const { return pid_ > 0; }
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
    // The exit status.
    int finish() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
};

size_t count(const tool::Bytes& bytes, const std::string& type) {
    size_t n = 0;
    for (auto at = bytes.begin(); (at = std::search(at, bytes.end(), type.begin(), type.end())) != bytes.end(); ++at)
        ++n;
    return n;
}

TEST(LiveRecording, RefusedWhileRecordedAndWholeAfterwards) {
    if (!tool::executable_in_path("ffmpeg")) GTEST_SKIP() << "needs ffmpeg";
    tool::TempDir dir;
    const std::string path = dir.file("live.mp4");
    Recorder recorder(path);
    ASSERT_TRUE(recorder.started());
    // Two fragments written: the file is a fragmented MP4 the tool would take.
    for (int i = 0; i < 200 && !(::access(path.c_str(), F_OK) == 0 && count(tool::read_file(path), "moof") >= 2); ++i)
        usleep(10000);
    ASSERT_GE(count(tool::read_file(path), "moof"), 2u);
    ASSERT_TRUE(recorder.running()) << "the recording ended before the tool could run";

    for (const std::vector<std::string>& args : {std::vector<std::string>{"-f", path}, {"--undo", "-f", path}}) {
        const tool::Result r = tool::run(args);
        EXPECT_EQ(r.status, 1) << args[0];
        EXPECT_EQ(r.err, "File is open for writing in another program\n") << args[0];
    }
    ASSERT_EQ(recorder.finish(), 0);

    const tool::Bytes recorded = tool::read_file(path);
    EXPECT_EQ(count(recorded, "TOLV"), 0u);
    EXPECT_EQ(tool::capture("ffmpeg -v error -i '" + path + "' -f null - 2>&1"), "");
    EXPECT_EQ(tool::capture("ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 '" +
                            path + "'"),
              std::to_string(kFrames) + "\n");
    // Finished, it converts.
    EXPECT_EQ(tool::run({"-f", path}).status, 0);
}

}  // namespace
