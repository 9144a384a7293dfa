#include "atoms/stbl.h"

#include "atoms/fourcc.h"

void qt_stbl_info::clear() {
    sdtp.clear();
    stco.clear();
    stsz.clear();
    stsc.clear();
    ctts.clear();
    stss.clear();
    stts.clear();
    other_atoms.clear();
}

void qt_stbl_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) {
        switch (c.type) {
            case fourcc("stts"): stts.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("stss"): stss.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("ctts"): ctts.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("stsc"): stsc.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("stsz"): stsz.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("stco"): stco.parse_atom_data(c.body(), c.body_len(), 32); break;
            case fourcc("co64"): stco.parse_atom_data(c.body(), c.body_len(), 64); break;
            case fourcc("sdtp"): sdtp.parse_atom_data(c.body(), c.body_len()); break;
            default: other_atoms.add(c); break;
        }
    });
}

void qt_stbl_info::write_into(BeWriter& w) const {
    size_t start = w.begin_atom(fourcc("stbl"));
    other_atoms.write_into(w);
    stts.write_into(w);
    stss.write_into(w);
    ctts.write_into(w);
    stsc.write_into(w);
    stsz.write_into(w);
    stco.write_into(w);
    sdtp.write_into(w);
    w.end_atom(start);
}
