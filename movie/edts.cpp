#include "movie/edts.h"

#include "atoms/child_walk.h"
#include "atoms/fourcc.h"

void qt_edts_info::clear() {
    elst.clear();
    other_atoms.clear();
    present = false;
}

void qt_edts_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    present = true;
    walk_children(data, len, [&](const ChildAtom& c) {
        if (c.type == fourcc("elst")) elst.parse_atom_data(c.body(), c.body_len());
        else other_atoms.add(c);
    });
}

void qt_edts_info::write_into(BeWriter& w) const {
    if (!present) return;
    const size_t start = w.begin_atom(fourcc("edts"));
    elst.write_into(w);
    other_atoms.write_into(w);
    w.end_atom(start);
}
