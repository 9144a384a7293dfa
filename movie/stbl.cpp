#include "movie/stbl.h"

#include <utility>

#include "atoms/fourcc.h"

void qt_stbl_info::clear() {
    sdtp.clear();
    stco.clear();
    stsz.clear();
    stsc.clear();
    ctts.clear();
    stss.clear();
    stts.clear();
    sgpd.clear();
    sbgp.clear();
    subs.clear();
    senc.clear();
    saiz.clear();
    saio.clear();
    other_atoms.clear();
}

namespace {

// Parses the child into a new element of `boxes`; a body the table cannot
// read stays a raw atom.
template <typename Table>
void parse_into(std::vector<Table>& boxes, const ChildAtom& c, RawAtomList& raw) {
    Table t;
    if (t.parse_atom_data(c.body(), c.body_len())) boxes.push_back(std::move(t));
    else raw.add(c);
}

template <typename Table>
void write_all(const std::vector<Table>& boxes, BeWriter& w) {
    for (const Table& t : boxes) t.write_into(w);
}

}  // namespace

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
            case fourcc("sgpd"): parse_into(sgpd, c, other_atoms); break;
            case fourcc("sbgp"): parse_into(sbgp, c, other_atoms); break;
            case fourcc("subs"): parse_into(subs, c, other_atoms); break;
            case fourcc("senc"): senc.parse_atom_data(c.body(), c.body_len()); break;
            case fourcc("saiz"): parse_into(saiz, c, other_atoms); break;
            case fourcc("saio"): parse_into(saio, c, other_atoms); break;
            default: other_atoms.add(c); break;
        }
    });
}

void qt_stbl_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("stbl"));
    other_atoms.write_into(w);
    // Group descriptions before the groups that point at them.
    write_all(sgpd, w);
    write_all(sbgp, w);
    write_all(subs, w);
    stts.write_into(w);
    stss.write_into(w);
    ctts.write_into(w);
    stsc.write_into(w);
    stsz.write_into(w);
    stco.write_into(w, options.force_co64);
    sdtp.write_into(w);
    senc.write_into(w);  // before saiz and saio: ffmpeg takes the first it meets
    write_all(saiz, w);
    write_all(saio, w);
    w.end_atom(start);
}
