// qt_stbl_info: the sample table box (stbl, inside minf). Holds the seven
// tables the conversion extends, and the per-sample details that fragments
// continue: sample groups (sgpd, sbgp), sub-samples (subs), trick play
// (trik) and auxiliary information (saiz, saio; senc as a copy for readers
// that need it). Every
// other child (the sample descriptions first among them), and any of these
// boxes in a form that cannot be read, is carried byte for byte in its place
// (movie/child_order.h); a raw atom with no place of its own goes first.
//
// The tables of a damaged movie may disagree on how many samples the track
// has (stts, stsz, and the chunks of stsc and stco). The track keeps the
// samples that all of them describe, and every table is cut to those, so
// that the written tables agree and a table that claims millions of samples
// in a few bytes is not grown to them.
#pragma once

#include <vector>

#include "atoms/raw_atom.h"
#include "atoms/write_options.h"
#include "movie/child_order.h"
#include "tables/ctts.h"
#include "tables/saio.h"
#include "tables/saiz.h"
#include "tables/sbgp.h"
#include "tables/sdtp.h"
#include "tables/senc.h"
#include "tables/sgpd.h"
#include "tables/stco.h"
#include "tables/stsc.h"
#include "tables/stss.h"
#include "tables/stsz.h"
#include "tables/stts.h"
#include "tables/subs.h"
#include "tables/trik.h"

class qt_stbl_info {
public:
    qt_sdtp_info sdtp;
    qt_stco_info stco;  // stco or co64 as read; the width is chosen anew on write
    qt_stsz_info stsz;
    qt_stsc_info stsc;
    qt_ctts_info ctts;
    qt_stss_info stss;
    qt_stts_info stts;
    qt_trik_info trik;
    // Boxes that come once per grouping type, flags value or kind of
    // information, in the order read or added.
    std::vector<qt_sgpd_info> sgpd;
    std::vector<qt_sbgp_info> sbgp;
    std::vector<qt_subs_info> subs;
    qt_senc_info senc;
    std::vector<qt_saiz_info> saiz;
    std::vector<qt_saio_info> saio;
    RawAtomList other_atoms;
    ChildOrder order;
    // Samples that some table described and the track does not keep: the
    // most any table described less those kept.
    uint64_t samples_left_out = 0;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);
    void write_into(BeWriter& w, const WriteOptions& options = {}) const;

private:
    // Reads the child into its member; returns its kind, or ChildOrder::kRaw.
    int parse_child(const ChildAtom& c);
    void keep_common_samples();
};
