// Runs the built morvak_fragflat binary (or another program) and gives tests
// the file helpers they need around it: a private temporary directory,
// fixture copies, whole-file and byte-range reads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tool {

using Bytes = std::vector<unsigned char>;

struct Result {
    // The exit status, or 128 + the signal number when the program was killed
    // by a signal (an assertion's abort shows up as 134, a run past its time
    // as 137).
    int status = -1;
    std::string out, err;
};

struct RunOptions {
    int timeout_seconds = 0;  // the child is killed after that; 0 waits for ever
    // "NAME=value" sets or replaces a variable of the test's environment, a
    // bare "NAME" removes it; later entries win.
    std::vector<std::string> env;
    std::string program;  // looked up in PATH; "" runs the tool
    // Caps the child's memory (an address-space limit through prlimit, or the
    // sanitizer's allocation limit in a sanitizer build) so that a runaway
    // allocation fails at once instead of swapping the machine.
    bool cap_memory = false;
};

// Runs the program with `args` (its name is added): no shell, stdin from
// /dev/null. Throws std::runtime_error when it cannot be started.
Result run(const std::vector<std::string>& args, const RunOptions& options = {});

// "ASAN_OPTIONS=" with `more` appended to the options the test runs with.
std::string asan_options_with(const std::string& more);

// A fresh directory (under /tmp), removed with everything in it on destruction.
class TempDir {
public:
    TempDir() : TempDir("/tmp") {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // On tmpfs (/dev/shm) when it has `room` bytes free, else under /tmp.
    static TempDir on_tmpfs_if_room(uint64_t room);

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    explicit TempDir(const std::string& parent);
    std::string path_;
};

// A file descriptor, closed on destruction. Throws std::runtime_error when
// the file cannot be opened (`flags` as for open(2); O_CLOEXEC is added).
class Fd {
public:
    Fd(const std::string& path, int flags);
    ~Fd();
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

inline std::string test_data_dir() { return MORVAK_TEST_DATA; }
// Names of the files in the test data directory that end in `suffix`, sorted.
std::vector<std::string> test_data_files(const std::string& suffix);
// Copies test data file `name` into `dir`; returns the copy's path.
std::string copy_fixture(const std::string& name, const TempDir& dir);

Bytes read_file(const std::string& path);
// Up to `len` bytes from `offset`; fewer when the file ends first.
Bytes read_range(const std::string& path, uint64_t offset, uint64_t len);
void write_range(const std::string& path, uint64_t offset, const Bytes& bytes);
inline uint64_t file_size(const std::string& path) { return std::filesystem::file_size(path); }
// Replaces `to` with a copy of `from`.
inline void copy_file(const std::string& from, const std::string& to) {
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// "" when equal, else the sizes and the first offset where they differ.
std::string difference(const Bytes& expected, const Bytes& actual);

}  // namespace tool
