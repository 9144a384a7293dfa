// Start-up checks that depend on the file's file system: the free-space
// threshold (512 MiB) and a file that cannot be opened for writing. Each test
// mounts its own small tmpfs, which needs root; without it the test skips.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
const uint64_t kPage = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));  // tmpfs counts in pages

// A tmpfs of `size` bytes holding a small fragmented file of one page, so
// that the space left is the size less one page.
struct Tmpfs {
    tool::TempDir dir;
    std::string options, file = dir.file("frag.mp4"), error;
    bool mounted;
    explicit Tmpfs(uint64_t size)
        : options("size=" + std::to_string(size)),
          mounted(mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options.c_str()) == 0) {
        if (!mounted) error = "cannot mount a tmpfs (needs root): " + std::string(std::strerror(errno));
        if (mounted) mp4b::write_file(file, {mp4b::ftyp("isom", 0, {"isom"}), mp4b::moov_with_payload(400, true),
                                             mp4b::moof(1, 1, 0, 3, 20), mp4b::raw_of_size("mdat", 60)});
    }
    ~Tmpfs() {
        if (mounted) umount2(dir.path().c_str(), MNT_DETACH);
    }
    uint64_t available() const {
        struct statvfs st {};
        return statvfs(dir.path().c_str(), &st) == 0 ? uint64_t{st.f_bsize} * st.f_bavail : 0;
    }
};

void expect_refused(const std::string& path, const std::string& switches, const std::string& message) {
    SCOPED_TRACE(switches);
    const tool::Bytes before = tool::read_file(path);
    const tool::Result r = tool::run({switches, "-f", path});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out + r.err, message);
    EXPECT_EQ(tool::read_file(path), before);
}

// Exactly 512 MiB free is enough, one page less is not.
TEST(FileSystem, FreeSpaceThresholdIs512MiB) {
    for (const uint64_t size : {512 * kMiB + kPage, 512 * kMiB}) {
        Tmpfs fs(size);
        if (!fs.mounted) GTEST_SKIP() << fs.error;
        ASSERT_EQ(fs.available(), size - kPage) << "tmpfs accounts space differently here";
        if (fs.available() < 512 * kMiB) {
            for (const char* switches : {"--dbg-move-moov", "--undo"})
                expect_refused(fs.file, switches, "Not enough free space around file\n");
        } else {
            EXPECT_EQ(tool::run({"-f", fs.file}).status, 0);
        }
    }
}

TEST(FileSystem, FileThatCannotBeOpenedForWriting) {
    Tmpfs fs(kMiB);
    if (!fs.mounted) GTEST_SKIP() << fs.error;
    // Root may write any file whatever its mode: the mount is made read-only.
    if (geteuid() == 0) ASSERT_EQ(mount(nullptr, fs.dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, fs.options.c_str()), 0);
    else ASSERT_EQ(chmod(fs.file.c_str(), 0444), 0);
    for (const char* switches : {"--dbg-move-moov", "--undo"}) expect_refused(fs.file, switches, "Unable to open file for r/w\n");
}

}  // namespace
