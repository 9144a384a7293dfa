#include "bench/synthetic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "atoms/be.h"
#include "atoms/fourcc.h"
#include "bench/fragment_bytes.h"
#include "bench/init_segment.h"

namespace {

bool write_all_at(int fd, const std::vector<unsigned char>& bytes, uint64_t at) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// An mfra holding only its mfro, as recorders end a fragmented file; it
// also means the file ends in written bytes rather than in a hole.
std::vector<unsigned char> build_trailer() {
    std::vector<unsigned char> out;
    BeWriter w(out);
    size_t mfra = w.begin_atom(fourcc("mfra"));
    size_t mfro = w.begin_atom(fourcc("mfro"));
    w.version_flags(0, 0);
    w.u32(24);  // size of the whole mfra
    w.end_atom(mfro);
    w.end_atom(mfra);
    return out;
}

}  // namespace

bool write_synthetic_file(const std::string& path, Timing timing, uint64_t total_samples, SyntheticFile& out,
                          std::string& error) {
    out = SyntheticFile{};
    out.path = path;
    out.timing = timing;
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot create " + path + ": " + std::strerror(errno);
        return false;
    }
    uint64_t pos = 0;
    auto put = [&](const std::vector<unsigned char>& bytes) {
        if (!write_all_at(fd, bytes, pos)) return false;
        out.written.push_back({pos, bytes.size()});
        pos += bytes.size();
        return true;
    };

    bool ok = put(build_init_segment());
    SamplePlan plan(timing, total_samples);
    PlannedFragment fragment;
    FragmentBytes bytes;
    while (ok && plan.next(fragment)) {
        build_fragment(fragment, pos, bytes);
        ok = put(bytes.head);
        pos += bytes.payload_bytes;  // the payload stays a hole
        ++out.fragments;
    }
    ok = ok && put(build_trailer());
    if (!ok) error = "cannot write " + path + ": " + std::strerror(errno);
    if (close(fd) != 0 && ok) {
        error = "cannot close " + path + ": " + std::strerror(errno);
        ok = false;
    }
    out.size = pos;
    out.video_samples = plan.video_samples();
    out.audio_samples = plan.audio_samples();
    return ok;
}
