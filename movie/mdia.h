// qt_mdia_info: the media box (mdia, inside trak): the media header, the
// handler (kept raw in its place, its type noted), and minf. A raw atom with
// no place of its own goes after the media header.
#pragma once

#include <cstdint>

#include "movie/headers.h"
#include "movie/minf.h"

class qt_mdia_info {
public:
    quicktime_mdhd_header_u mdhd;
    qt_minf_info minf;
    RawAtomList other_atoms;
    ChildOrder order;
    uint32_t handler_type = 0;  // hdlr's handler type, e.g. 'vide'; 0 when none

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;

private:
    // Reads the child into its member; returns its kind, or ChildOrder::kRaw.
    int parse_child(const ChildAtom& c);
};
