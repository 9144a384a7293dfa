#include "movie/minf.h"

#include "atoms/fourcc.h"

namespace {
enum Kind : int { kStbl };
}  // namespace

void qt_minf_info::clear() {
    stbl.clear();
    other_atoms.clear();
    order.clear();
}

void qt_minf_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) {
        int kind = ChildOrder::kRaw;
        if (c.type == fourcc("stbl")) {
            stbl.parse_atom_data(c.body(), c.body_len());
            kind = kStbl;
        }
        order.add(kind, other_atoms, c);
    });
}

void qt_minf_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("minf"));
    // The media header and data information are raw, and go first when they
    // have no place of their own.
    order.write_into(w, other_atoms, {1}, ChildOrder::kBeforeAll, [&](int, size_t) { stbl.write_into(w, options); });
    w.end_atom(start);
}
