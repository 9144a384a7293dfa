#include "movie/mdia.h"

#include "atoms/fourcc.h"

namespace {
enum Kind : int { kMdhd, kMinf };
}  // namespace

void qt_mdia_info::clear() {
    mdhd.clear();
    minf.clear();
    other_atoms.clear();
    order.clear();
    handler_type = 0;
}

int qt_mdia_info::parse_child(const ChildAtom& c) {
    switch (c.type) {
        case fourcc("mdhd"): mdhd.parse_atom_data(c.body(), c.body_len()); return kMdhd;
        case fourcc("minf"): minf.parse_atom_data(c.body(), c.body_len()); return kMinf;
        case fourcc("hdlr"):
            // version 0: pre_defined (4 bytes), then the handler type.
            if (c.body_len() >= 12 && c.body()[0] == 0) handler_type = be::read_u32(c.body() + 8);
            return ChildOrder::kRaw;
        default: return ChildOrder::kRaw;
    }
}

void qt_mdia_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) { order.add(parse_child(c), other_atoms, c); });
}

void qt_mdia_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("mdia"));
    order.write_into(w, other_atoms, {1, 1}, ChildOrder::after_last(kMdhd), [&](int kind, size_t) {
        if (kind == kMdhd) mdhd.write_into(w);
        else minf.write_into(w, options);
    });
    w.end_atom(start);
}
