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
#include <string>

#include "tests/e2e/e2e_helpers.h"

namespace {

constexpr uint64_t kMiB = 1024 * 1024;
// tmpfs accounts space in pages.
const uint64_t kPage = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));

class TmpfsMount {
public:
    TmpfsMount(const std::string& dir, uint64_t size) : dir_(dir) {
        ::mkdir(dir.c_str(), 0755);
        options_ = "size=" + std::to_string(size);
        mounted_ = ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options_.c_str()) == 0;
        if (!mounted_) error_ = std::strerror(errno);
    }
    ~TmpfsMount() {
        if (mounted_) ::umount2(dir_.c_str(), MNT_DETACH);
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    std::string why_not() const { return "cannot mount a tmpfs (needs root): " + error_; }
    bool make_read_only() {
        return ::mount(nullptr, dir_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, options_.c_str()) == 0;
    }
    uint64_t available() const {
        struct statvfs st {};
        if (::statvfs(dir_.c_str(), &st) != 0) return 0;
        return uint64_t{st.f_bsize} * st.f_bavail;
    }

private:
    std::string dir_;
    std::string options_;
    bool mounted_ = false;
    std::string error_;
};

// A small fragmented file that every job would otherwise accept. It fits in
// one page, so that the free space left is the mount size minus one page.
void write_convertible(const std::string& path) {
    mp4b::write_file(path, e2e::fragmented_file(400, e2e::two_fragments()));
    ASSERT_LE(tool::file_size(path), kPage);
}

TEST(FileSystem, TooLittleFreeSpaceRefusesEveryJob) {
    tool::TempDir dir;
    TmpfsMount mount(dir.file("mnt"), 16 * kMiB);
    if (!mount.mounted()) GTEST_SKIP() << mount.why_not();
    const std::string path = dir.file("mnt/frag.mp4");
    write_convertible(path);
    for (const std::vector<std::string>& switches :
         {std::vector<std::string>{}, {"--dbg-move-moov"}, {"--undo"}}) {
        SCOPED_TRACE(switches.empty() ? "forward" : switches[0]);
        e2e::expect_refused(path, switches, "Not enough free space around file\n");
    }
}

// Exactly 512 MiB available is enough, one page less is not.
TEST(FileSystem, FreeSpaceThresholdIs512MiB) {
    for (const uint64_t mount_size : {512 * kMiB + kPage, 512 * kMiB}) {
        SCOPED_TRACE("tmpfs of " + std::to_string(mount_size) + " bytes");
        tool::TempDir dir;
        TmpfsMount mount(dir.file("mnt"), mount_size);
        if (!mount.mounted()) GTEST_SKIP() << mount.why_not();
        const std::string path = dir.file("mnt/frag.mp4");
        write_convertible(path);
        const uint64_t available = mount.available();
        ASSERT_EQ(available, mount_size - kPage) << "tmpfs accounts space differently here";
        if (available >= 512 * kMiB) {
            // Accepted: the undo then fails on the unconverted file itself.
            e2e::expect_refused(path, {"--undo"}, "Not enough information to undo\n");
        } else {
            e2e::expect_refused(path, {"--undo"}, "Not enough free space around file\n");
        }
    }
}

TEST(FileSystem, FileThatCannotBeOpenedForWriting) {
    tool::TempDir dir;
    if (::geteuid() != 0) {
        const std::string path = dir.file("frag.mp4");
        write_convertible(path);
        ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        e2e::expect_refused(path, {"--dbg-move-moov"}, "Unable to open file for r/w\n");
        return;
    }
    // Root may write any file whatever its mode: use a read-only mount.
    TmpfsMount mount(dir.file("mnt"), 1 * kMiB);
    if (!mount.mounted()) GTEST_SKIP() << mount.why_not();
    const std::string path = dir.file("mnt/frag.mp4");
    write_convertible(path);
    ASSERT_TRUE(mount.make_read_only()) << std::strerror(errno);
    for (const std::vector<std::string>& switches :
         {std::vector<std::string>{"--dbg-move-moov"}, {"--undo"}}) {
        SCOPED_TRACE(switches[0]);
        e2e::expect_refused(path, switches, "Unable to open file for r/w\n");
    }
}

}  // namespace
