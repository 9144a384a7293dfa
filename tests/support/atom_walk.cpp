#include "tests/support/atom_walk.h"

#include "atoms/be.h"
#include "tests/support/mp4_builder.h"
#include "tests/support/tool_runner.h"

namespace walk {

std::vector<TopAtom> top_level_atoms(const std::string& path) {
    const uint64_t file_end = tool::file_size(path);
    std::vector<TopAtom> atoms;
    uint64_t at = 0;
    while (at + 8 <= file_end) {
        const tool::Bytes head = tool::read_range(path, at, 16);
        BeReader r(head.data(), head.size());
        TopAtom a;
        a.start = at;
        a.header = 8;
        a.size = r.u32();
        a.type = r.u32();
        if (a.size == 1) {
            if (at + 16 > file_end) break;
            a.header = 16;
            a.size = r.u64();
        } else if (a.size == 0) {
            a.size = file_end - at;
        }
        if (a.size < a.header) break;
        a.truncated = a.size > file_end - at;
        atoms.push_back(a);
        if (a.truncated) break;
        at += a.size;
    }
    return atoms;
}

std::optional<TopAtom> first_of(const std::vector<TopAtom>& atoms, const std::string& type) {
    const uint32_t code = mp4b::fourcc_of(type);
    for (const TopAtom& a : atoms)
        if (a.type == code) return a;
    return std::nullopt;
}

}  // namespace walk
