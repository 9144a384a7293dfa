#include "atoms/atom_header.h"

#include "atoms/be.h"
#include "atoms/saturating.h"

HeaderRead read_atom_header(const unsigned char* p, size_t avail, uint64_t at, uint64_t parent_end,
                            AtomHeader& out) {
    if (at >= parent_end || parent_end - at < 8) return HeaderRead::ends_walk;
    if (avail < 8) return HeaderRead::need_more;
    const uint32_t size32 = be::read_u32(p);
    AtomHeader h;
    h.type = be::read_u32(p + 4);
    h.start = at;
    if (size32 == 1) {
        if (parent_end - at < 16) return HeaderRead::ends_walk;
        if (avail < 16) return HeaderRead::need_more;
        const uint64_t size64 = be::read_u64(p + 8);
        if (size64 < 16) return HeaderRead::ends_walk;
        h.header = 16;
        h.end = saturating_add(at, size64);
    } else if (size32 == 0) {
        h.size_zero = true;
        h.end = parent_end;
    } else if (size32 < 8) {
        return HeaderRead::ends_walk;
    } else {
        h.end = saturating_add(at, size32);
    }
    out = h;
    return HeaderRead::ok;
}
