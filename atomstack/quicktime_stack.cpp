#include "atomstack/quicktime_stack.h"

#include <sys/stat.h>

#include <algorithm>

#include "atoms/atom_header.h"

struct quicktime_stack {
    FileReader reader{-1, 0};
    std::vector<quicktime_atom> atoms;
};

quicktime_stack* quicktime_stack_create(int) { return new quicktime_stack; }

int quicktime_stack_assign_fd(quicktime_stack* qt, int fd) {
    struct stat st;
    if (qt == nullptr || fd < 0 || fstat(fd, &st) != 0 || st.st_size < 0) return 0;
    qt->reader = FileReader(fd, static_cast<uint64_t>(st.st_size));
    quicktime_stack_empty(qt);
    return 1;
}

const FileReader& quicktime_stack_reader(quicktime_stack* qt) { return qt->reader; }

void quicktime_stack_empty(quicktime_stack* qt) {
    qt->atoms.clear();
    quicktime_atom root;
    root.end_offset = qt->reader.size();
    root.data_length = root.end_offset;
    root.is_container = 1;
    qt->atoms.push_back(root);
}

void quicktime_stack_push(quicktime_stack* qt, const quicktime_atom* atom) { qt->atoms.push_back(*atom); }

quicktime_atom* quicktime_stack_top(quicktime_stack* qt) {
    return qt->atoms.empty() ? nullptr : &qt->atoms.back();
}

void quicktime_stack_pop(quicktime_stack* qt) {
    if (!qt->atoms.empty()) qt->atoms.pop_back();
}

void quicktime_stack_seek(quicktime_stack*, quicktime_atom* atom, long offset) {
    atom->position = atom->absolute_data_offset + static_cast<uint64_t>(offset);
}

int quicktime_stack_read_atom(quicktime_stack* qt, quicktime_atom* parent, quicktime_atom* out) {
    // The parent never extends past the file, whatever its header claims.
    const uint64_t limit = std::min(parent->end_offset, qt->reader.size());
    unsigned char head[kMaxAtomHeader];
    const size_t got = parent->position < limit ? qt->reader.read(parent->position, head, sizeof head) : 0;
    AtomHeader h;
    if (read_atom_header(head, got, parent->position, limit, h) != HeaderRead::ok) return 0;
    quicktime_atom a;
    a.start_offset = h.start;
    a.absolute_data_offset = h.body();
    a.end_offset = h.end;
    a.data_length = h.end - h.body();
    a.position = a.absolute_data_offset;
    a.is_64bit = h.header == 16 ? 1 : 0;
    a.type = h.type;
    *out = a;
    // A child that claims to run past its parent ends the parent's walk.
    parent->position = std::min(a.end_offset, parent->end_offset);
    return 1;
}

long quicktime_stack_read(quicktime_stack* qt, quicktime_atom* atom, void* buf, long count) {
    if (count <= 0 || atom->position >= atom->end_offset) return 0;
    const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(count), atom->end_offset - atom->position);
    const size_t got = qt->reader.read(atom->position, static_cast<unsigned char*>(buf), static_cast<size_t>(want));
    atom->position += got;
    return static_cast<long>(got);
}

int quicktime_stack_eof(quicktime_stack* qt) {
    if (qt->atoms.empty()) return 1;
    const quicktime_atom& top = qt->atoms.back();
    return top.position >= top.end_offset ? 1 : 0;
}

quicktime_stack* quicktime_stack_destroy(quicktime_stack* qt) {
    delete qt;
    return nullptr;
}
