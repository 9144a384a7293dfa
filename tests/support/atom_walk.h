// Reads a file's top-level atom headers straight from the file, so that tests
// can locate atoms in large sparse files without reading their payloads.
// Independent of the program's own atom stack on purpose.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace walk {

struct TopAtom {
    uint32_t type = 0;
    uint64_t start = 0;    // offset of the header
    uint64_t header = 0;   // 8 or 16
    uint64_t size = 0;     // header included; size 0 resolved to the end of the file
    bool truncated = false;  // claimed to run past the end of the file

    uint64_t data() const { return start + header; }
    uint64_t end() const { return start + size; }
    uint64_t payload() const { return size - header; }
};

// Walks from offset 0 and stops at the end of the file, at a header that does
// not fit, at a size below its header, or after an atom that runs past the end
// (which is listed with truncated set).
std::vector<TopAtom> top_level_atoms(const std::string& path);

std::optional<TopAtom> first_of(const std::vector<TopAtom>& atoms, const std::string& type);

}  // namespace walk
