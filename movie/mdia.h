// qt_mdia_info: the media box (mdia, inside trak): the media header, the
// handler (kept raw, its type noted), and minf.
#pragma once

#include <cstdint>

#include "movie/headers.h"
#include "movie/minf.h"

class qt_mdia_info {
public:
    quicktime_mdhd_header_u mdhd;
    qt_minf_info minf;
    RawAtomList other_atoms;
    uint32_t handler_type = 0;  // hdlr's handler type, e.g. 'vide'; 0 when none

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;
};
