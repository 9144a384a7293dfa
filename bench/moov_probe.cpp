#include "bench/moov_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "atoms/be.h"
#include "atoms/fourcc.h"

namespace {

struct Box {
    uint32_t type = 0;
    uint64_t body = 0;  // first byte after the header
    uint64_t end = 0;
};

// The box at `at` inside [at, limit); false when none fits.
bool read_box(int fd, uint64_t at, uint64_t limit, Box& box) {
    unsigned char h[16];
    if (limit < at + 8 || pread(fd, h, 16, static_cast<off_t>(at)) < 8) return false;
    uint64_t size = be::read_u32(h);
    uint64_t header = 8;
    if (size == 1) {
        if (limit < at + 16) return false;
        size = be::read_u64(h + 8);
        header = 16;
    } else if (size == 0) {
        size = limit - at;
    }
    if (size < header || size > limit - at) return false;
    box.type = be::read_u32(h + 4);
    box.body = at + header;
    box.end = at + size;
    return true;
}

template <typename Visit>
void for_each_box(int fd, uint64_t from, uint64_t to, Visit&& visit) {
    Box box;
    for (uint64_t at = from; read_box(fd, at, to, box); at = box.end) visit(box);
}

bool find_child(int fd, const Box& parent, uint32_t type, Box& out) {
    bool found = false;
    for_each_box(fd, parent.body, parent.end, [&](const Box& b) {
        if (!found && b.type == type) {
            out = b;
            found = true;
        }
    });
    return found;
}

}  // namespace

bool probe_sample_counts(const std::string& path, std::vector<uint64_t>& counts) {
    counts.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool found = false;
    if (fstat(fd, &st) == 0) {
        Box moov;
        for_each_box(fd, 0, static_cast<uint64_t>(st.st_size), [&](const Box& b) {
            if (!found && b.type == fourcc("moov")) {
                moov = b;
                found = true;
            }
        });
        if (found) {
            for_each_box(fd, moov.body, moov.end, [&](const Box& trak) {
                if (trak.type != fourcc("trak")) return;
                Box mdia, minf, stbl, stsz;
                unsigned char body[12];
                uint64_t n = 0;
                if (find_child(fd, trak, fourcc("mdia"), mdia) && find_child(fd, mdia, fourcc("minf"), minf) &&
                    find_child(fd, minf, fourcc("stbl"), stbl) && find_child(fd, stbl, fourcc("stsz"), stsz) &&
                    stsz.end - stsz.body >= 12 && pread(fd, body, 12, static_cast<off_t>(stsz.body)) == 12) {
                    n = be::read_u32(body + 8);
                }
                counts.push_back(n);
            });
        }
    }
    close(fd);
    return found;
}
