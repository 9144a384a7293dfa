// Runs the built morvak_fragflat binary and gives tests the file helpers they
// need around it: a private temporary directory, fixture copies, whole-file
// and byte-range reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

using Bytes = std::vector<unsigned char>;

struct Result {
    // The exit status, or 128 + the signal number when the program was killed
    // by a signal (an assertion's abort shows up as 134).
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the binary with `args` (the program name is added), stdin from
// /dev/null, in `cwd` when given. Throws std::runtime_error when it cannot
// be started.
Result run(const std::vector<std::string>& args, const std::string& cwd = "");

// A fresh directory under /tmp, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string test_data_dir();
// Names of the files in the test data directory that end in `suffix`, sorted.
std::vector<std::string> test_data_files(const std::string& suffix);
// Copies test data file `name` into `dir`; returns the copy's path.
std::string copy_fixture(const std::string& name, const TempDir& dir);

Bytes read_file(const std::string& path);
// Up to `len` bytes from `offset`; fewer when the file ends first.
Bytes read_range(const std::string& path, uint64_t offset, uint64_t len);
void write_range(const std::string& path, uint64_t offset, const Bytes& bytes);
uint64_t file_size(const std::string& path);
// Bytes of storage the file occupies (holes take none).
uint64_t allocated_bytes(const std::string& path);

}  // namespace tool
