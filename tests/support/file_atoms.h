// The atoms of a file or of a byte image, as a tree, read through the tool's
// own atom stack (the one walker of the project): tests name the atom they
// look at or damage by its path, such as "moov/trak#2/mdia/minf/stbl/stsz"
// (#n: the n-th of that type at its level, from 1).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fa {

struct Node {
    std::string type;
    uint64_t start = 0;   // the header's first byte
    uint64_t header = 8;  // 8, or 16 with a 64-bit size
    uint64_t size = 0;    // header included, as declared (size 0: to the parent's end)
    std::vector<Node> kids;

    uint64_t body() const { return start + header; }
    uint64_t end() const { return start + size; }
};

// Containers of the movie and its fragments, and of the undo record, are
// entered; every other atom is a leaf.
std::vector<Node> atom_tree(const std::string& path);
std::vector<Node> atom_tree(const std::vector<unsigned char>& bytes);

// Throws std::runtime_error when there is no such atom.
const Node& find(const std::vector<Node>& top, const std::string& path);
std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type);

}  // namespace fa
