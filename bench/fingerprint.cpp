#include "bench/fingerprint.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

bool hash_region(int fd, const WrittenRegion& r, uint64_t& hash) {
    unsigned char buf[65536];
    uint64_t done = 0;
    while (done < r.length) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(sizeof buf, r.length - done));
        ssize_t n = pread(fd, buf, want, static_cast<off_t>(r.offset + done));
        if (n <= 0) return false;
        for (ssize_t i = 0; i < n; ++i) hash = (hash ^ buf[i]) * kFnvPrime;
        done += static_cast<uint64_t>(n);
    }
    return true;
}

}  // namespace

Fingerprint take_fingerprint(const std::string& path, const std::vector<WrittenRegion>& regions) {
    Fingerprint f;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return f;
    // Pending writes can leave the block count in flux; settle it first.
    struct stat st;
    bool ok = fsync(fd) == 0 && fstat(fd, &st) == 0;
    if (ok) {
        f.size = static_cast<uint64_t>(st.st_size);
        f.blocks = static_cast<uint64_t>(st.st_blocks);
        f.hash = kFnvOffset;
        for (const WrittenRegion& r : regions) {
            if (!hash_region(fd, r, f.hash)) {
                ok = false;
                break;
            }
        }
    }
    close(fd);
    f.ok = ok;
    return f;
}

std::string compare_fingerprints(const Fingerprint& before, const Fingerprint& after) {
    if (!before.ok || !after.ok) return "unreadable";
    if (after.size != before.size) return "size differs";
    if (after.hash != before.hash) return "bytes differ";
    if (after.blocks != before.blocks) return "holes filled";
    return "";
}

bool flush_file(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}
