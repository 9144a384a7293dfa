#include "tests/support/file_atoms.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <stdexcept>

#include "atoms/be.h"
#include "atomstack/quicktime_stack.h"

namespace fa {

namespace {

std::vector<Node> level_of(quicktime_stack* qt, const quicktime_atom* parent) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "mvex", "moof",
                                                     "traf", "edts", "dinf", "mfra", "TOLV", "ORIG"};
    std::vector<quicktime_atom> atoms;
    quicktime_walk(qt, parent, [&](const quicktime_atom& a) {
        atoms.push_back(a);
        return true;
    });
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

std::vector<Node> tree_of_fd(int fd) {
    quicktime_stack* qt = quicktime_stack_create(0);
    quicktime_stack_assign_fd(qt, fd);
    std::vector<Node> top = level_of(qt, nullptr);
    quicktime_stack_destroy(qt);
    close(fd);
    return top;
}

}  // namespace

std::vector<Node> atom_tree(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    return tree_of_fd(fd);
}

std::vector<Node> atom_tree(const std::vector<unsigned char>& bytes) {
    const int fd = memfd_create("atoms", MFD_CLOEXEC);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        throw std::runtime_error("cannot hold the image in memory");
    return tree_of_fd(fd);
}

std::vector<const Node*> all_of(const std::vector<Node>& level, const std::string& type) {
    std::vector<const Node*> out;
    for (const Node& n : level)
        if (n.type == type) out.push_back(&n);
    return out;
}

const Node& find(const std::vector<Node>& top, const std::string& path) {
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
    if (node == nullptr) throw std::runtime_error("empty atom path");
    return *node;
}

}  // namespace fa
