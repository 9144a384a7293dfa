#include "movie/mdia.h"

#include "atoms/fourcc.h"

void qt_mdia_info::clear() {
    mdhd.clear();
    minf.clear();
    other_atoms.clear();
    handler_type = 0;
}

void qt_mdia_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) {
        switch (c.type) {
            case fourcc("mdhd"): mdhd.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("minf"): minf.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("hdlr"):
                // version 0: pre_defined (4 bytes), then the handler type.
                if (c.body_len() >= 12 && c.body()[0] == 0) handler_type = be::read_u32(c.body() + 8);
                other_atoms.add(c);
                break;
            default: other_atoms.add(c); break;
        }
    });
}

void qt_mdia_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("mdia"));
    mdhd.write_into(w);
    other_atoms.write_into(w);
    minf.write_into(w, options);
    w.end_atom(start);
}
