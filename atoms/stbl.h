// qt_stbl_info: the sample table box (stbl, inside minf). Holds the seven
// tables the conversion extends; every other child (the sample descriptions
// first among them) is carried byte for byte and written before the tables.
#pragma once

#include "atoms/raw_atom.h"
#include "tables/ctts.h"
#include "tables/sdtp.h"
#include "tables/stco.h"
#include "tables/stsc.h"
#include "tables/stss.h"
#include "tables/stsz.h"
#include "tables/stts.h"

class qt_stbl_info {
public:
    qt_sdtp_info sdtp;
    qt_stco_info stco;  // stco or co64 as read; the width is chosen anew on write
    qt_stsz_info stsz;
    qt_stsc_info stsc;
    qt_ctts_info ctts;
    qt_stss_info stss;
    qt_stts_info stts;
    RawAtomList other_atoms;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w) const;
    bool write_new_atom(int fd, off_t& pos) const { return write_atom_at(fd, pos, *this); }
};
