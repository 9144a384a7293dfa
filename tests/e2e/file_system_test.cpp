// Start-up checks that depend on the file's file system: the free-space
// threshold (512 MiB) and a file that cannot be opened for writing. Each case
// mounts its own small tmpfs, which needs root; without it the test skips.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;

// Each switch refused with `message` and the file left as it was.
void expect_refused(const std::string& path, const std::string& message) {
    const tool::Bytes before = tool::read_file(path);
    for (const char* switches : {"--dbg-move-moov", "--undo"}) {
        const tool::Result r = tool::run({switches, "-f", path});
        EXPECT_EQ(r.status, 1) << switches;
        EXPECT_EQ(r.out + r.err, message) << switches;
    }
    EXPECT_EQ(tool::read_file(path), before);
}

// Tmpfs mounts of 512 MiB and a page and of 512 MiB, a small fragmented file
// taking one page of each: exactly 512 MiB free is enough, one page less is
// not. Then one of 1 MiB remounted read-only, as root may write any file
// whatever its mode.
TEST(FileSystem, FreeSpaceThresholdAndReadOnlyMount) {
    const uint64_t page = static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    for (const uint64_t size : {512 * kMiB + page, 512 * kMiB, kMiB}) {
        tool::TempDir dir;
        const std::string options = "size=" + std::to_string(size), file = dir.file("frag.mp4");
        if (geteuid() != 0 || mount("tmpfs", dir.path().c_str(), "tmpfs", 0, options.c_str()) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs (needs root)";
        mp4b::write_file(file, {mp4b::ftyp("isom", 0, {"isom"}), mp4b::moov_with_payload(400, true),
                                mp4b::moof(1, 1, 0, 3, 20), mp4b::raw_of_size("mdat", 60)});
        struct statvfs st {};
        EXPECT_TRUE(statvfs(dir.path().c_str(), &st) == 0 && uint64_t{st.f_bsize} * st.f_bavail == size - page);
        if (size == kMiB) {
            ASSERT_EQ(mount(nullptr, dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, options.c_str()), 0);
            expect_refused(file, "Unable to open file for r/w\n");
        } else if (size == 512 * kMiB) {
            expect_refused(file, "Not enough free space around file\n");
        } else {
            EXPECT_EQ(tool::run({"-f", file}).status, 0);
        }
        umount2(dir.path().c_str(), MNT_DETACH);
    }
}

}  // namespace
