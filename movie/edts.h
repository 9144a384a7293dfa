// qt_edts_info: the edit box (edts, inside trak): the track's edit list,
// modelled, and any other child carried byte for byte in its place. present
// says whether the track has (or has been given) an edit box; an absent one
// is not written. A later elst replaces an earlier one.
#pragma once

#include <cstddef>

#include "atoms/be.h"
#include "atoms/raw_atom.h"
#include "movie/child_order.h"
#include "movie/elst.h"

class qt_edts_info {
public:
    qt_elst_info elst;
    RawAtomList other_atoms;
    ChildOrder order;
    bool present = false;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    // The track has an edit list with at least one edit.
    bool has_edits() const { return elst.present && !elst.entries.empty(); }

    void write_into(BeWriter& w) const;
};
