// The atoms of a file or of a byte image, as a tree, read through the tool's
// own atom stack (the one walker of the project): tests name the atom they
// look at or damage by its path, such as "moov/trak#2/mdia/minf/stbl/stsz"
// (#n: the n-th of that type at its level, from 1).
#pragma once

#include <memory>
#include <set>
#include <sstream>

#include "atoms/be.h"
#include "atomstack/quicktime_stack.h"
#include "tests/support/tool_runner.h"

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
inline std::vector<Node> level_of(quicktime_stack* qt, const quicktime_atom* parent) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "mvex", "moof",
                                                     "traf", "edts", "dinf", "mfra", "TOLV", "ORIG"};
    std::vector<quicktime_atom> atoms;
    quicktime_walk(qt, parent, [&](const quicktime_atom& a) { return atoms.push_back(a), true; });
    std::vector<Node> level;
    for (const quicktime_atom& a : atoms) {
        unsigned char type[4];
        be::put_u32(type, a.type);
        level.push_back({std::string(type, type + 4), a.start_offset, a.absolute_data_offset - a.start_offset,
                         a.end_offset - a.start_offset, {}});
        if (containers.count(level.back().type) != 0) level.back().kids = level_of(qt, &a);
    }
    return level;
}

inline std::vector<Node> atom_tree(const std::string& path) {
    const tool::Fd fd(path, O_RDONLY);
    const std::unique_ptr<quicktime_stack, decltype(&quicktime_stack_destroy)> qt(quicktime_stack_create(0),
                                                                                 quicktime_stack_destroy);
    quicktime_stack_assign_fd(qt.get(), fd.get());
    return level_of(qt.get(), nullptr);
}

inline std::vector<Node> atom_tree(const tool::Bytes& bytes) {
    const tool::TempDir dir;
    tool::write_range(dir.file("image"), 0, bytes);
    return atom_tree(dir.file("image"));
}

inline std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type) {
    std::vector<const Node*> out;
    for (const Node& n : level)
        if (n.type == type) out.push_back(&n);
    return out;
}

// Throws std::runtime_error when there is no such atom.
inline const Node& find(const std::vector<Node>& top, const std::string& path) {
    const std::vector<Node>* level = &top;
    const Node* node = nullptr;
    std::stringstream parts(path);
    for (std::string part; std::getline(parts, part, '/'); level = &node->kids) {
        const size_t hash = part.find('#');
        const size_t index = hash == std::string::npos ? 1 : std::stoul(part.substr(hash + 1));
        const std::vector<const Node*> matches = all_of(*level, part.substr(0, hash));
        if (index == 0 || matches.size() < index) throw std::runtime_error("no atom at " + path);
        node = matches[index - 1];
    }
    return node != nullptr ? *node : throw std::runtime_error("empty atom path");
}

}  // namespace fa
