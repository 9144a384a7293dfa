#include "movie/minf.h"

#include "atoms/fourcc.h"

void qt_minf_info::clear() {
    stbl.clear();
    other_atoms.clear();
}

void qt_minf_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) {
        if (c.type == fourcc("stbl")) stbl.parse_atom_data(c.body(), c.body_len());
        else other_atoms.add(c);
    });
}

void qt_minf_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("minf"));
    other_atoms.write_into(w);
    stbl.write_into(w, options);
    w.end_atom(start);
}
