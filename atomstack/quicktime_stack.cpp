#include "atomstack/quicktime_stack.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "atoms/be.h"
#include "atoms/file_io.h"
#include "atoms/saturating.h"

struct quicktime_stack {
    int fd = -1;
    // Taken when the stack is emptied: reads never reach past it, and the
    // file does not change while a walk is under way.
    uint64_t file_size = 0;
    std::vector<quicktime_atom> atoms;
};

namespace {

uint64_t file_size(int fd) {
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
}

}  // namespace

quicktime_stack* quicktime_stack_create(int) { return new quicktime_stack; }

int quicktime_stack_assign_fd(quicktime_stack* qt, int fd) {
    if (qt == nullptr || fd < 0) return 0;
    qt->fd = fd;
    quicktime_stack_empty(qt);
    return 1;
}

void quicktime_stack_empty(quicktime_stack* qt) {
    qt->atoms.clear();
    qt->file_size = file_size(qt->fd);
    quicktime_atom root;
    root.end_offset = qt->file_size;
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
    const uint64_t limit = std::min(parent->end_offset, qt->file_size);
    const uint64_t at = parent->position;
    if (at >= limit || limit - at < 8) return 0;

    unsigned char head[16];
    if (read_buffer_at(qt->fd, at, head, 8) != 8) return 0;
    uint64_t size = be::read_u32(head);
    const uint32_t type = be::read_u32(head + 4);
    uint64_t header = 8;
    bool is64 = false;
    if (size == 1) {
        if (limit - at < 16 || read_buffer_at(qt->fd, at + 8, head + 8, 8) != 8) return 0;
        size = be::read_u64(head + 8);
        header = 16;
        is64 = true;
        if (size < 16) return 0;
    } else if (size == 0) {
        size = parent->end_offset - at;  // runs to the end of its parent
    } else if (size < 8) {
        return 0;
    }

    quicktime_atom a;
    a.start_offset = at;
    a.absolute_data_offset = at + header;
    a.end_offset = saturating_add(at, size);
    a.data_length = a.end_offset - a.absolute_data_offset;
    a.position = a.absolute_data_offset;
    a.is_64bit = is64 ? 1 : 0;
    a.type = type;
    *out = a;
    // A child that claims to run past its parent ends the parent's walk.
    parent->position = std::min(a.end_offset, parent->end_offset);
    return 1;
}

long quicktime_stack_read(quicktime_stack* qt, quicktime_atom* atom, void* buf, long count) {
    if (count <= 0 || atom->position >= atom->end_offset) return 0;
    const uint64_t want = std::min<uint64_t>(static_cast<uint64_t>(count), atom->end_offset - atom->position);
    const size_t got =
        read_buffer_at(qt->fd, atom->position, static_cast<unsigned char*>(buf), static_cast<size_t>(want));
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

bool quicktime_read_payload(quicktime_stack* qt, quicktime_atom atom, std::vector<unsigned char>& out) {
    out.resize(atom.data_length);
    quicktime_stack_empty(qt);
    const long got = quicktime_stack_read(qt, &atom, out.data(), static_cast<long>(atom.data_length));
    return got >= 0 && static_cast<uint64_t>(got) == atom.data_length;
}
