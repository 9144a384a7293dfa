// qt_minf_info: the media information box (minf, inside mdia). Models only
// its stbl; the media header and data information are carried as read, in
// their place.
#pragma once

#include "movie/stbl.h"

class qt_minf_info {
public:
    qt_stbl_info stbl;
    RawAtomList other_atoms;
    ChildOrder order;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;
};
