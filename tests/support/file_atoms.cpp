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

bool is_container(const std::string& type) {
    static const std::set<std::string> containers = {"moov", "trak", "mdia", "minf", "stbl", "mvex", "moof",
                                                     "traf", "edts", "dinf", "mfra", "TOLV", "ORIG"};
    return containers.count(type) != 0;
}

std::string type_text(uint32_t type) {
    unsigned char b[4];
    be::put_u32(b, type);
    return std::string(b, b + 4);
}

std::vector<Node> level_of(quicktime_stack* qt, const quicktime_atom* parent) {
    std::vector<quicktime_atom> atoms;
    quicktime_walk(qt, parent, [&](const quicktime_atom& a) {
        atoms.push_back(a);
        return true;
    });
    std::vector<Node> level;
    for (const quicktime_atom& a : atoms) {
        Node n{type_text(a.type), a.start_offset, a.absolute_data_offset - a.start_offset,
               a.end_offset - a.start_offset, {}};
        if (is_container(n.type)) n.kids = level_of(qt, &a);
        level.push_back(std::move(n));
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
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
        throw std::runtime_error("cannot hold the image in memory");
    }
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
    std::string part;
    while (std::getline(parts, part, '/')) {
        size_t index = 1;
        const size_t hash = part.find('#');
        if (hash != std::string::npos) {
            index = std::stoul(part.substr(hash + 1));
            part = part.substr(0, hash);
        }
        const std::vector<const Node*> matches = all_of(*level, part);
        if (index == 0 || matches.size() < index) throw std::runtime_error("no atom at " + path);
        node = matches[index - 1];
        level = &node->kids;
    }
    if (node == nullptr) throw std::runtime_error("empty atom path");
    return *node;
}

}  // namespace fa
