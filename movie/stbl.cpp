#include "movie/stbl.h"

#include <algorithm>
#include <cassert>
#include <iterator>
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
    trik.clear();
    sgpd.clear();
    sbgp.clear();
    subs.clear();
    senc.clear();
    saiz.clear();
    saio.clear();
    other_atoms.clear();
    order.clear();
    samples_left_out = 0;
}

namespace {

// The kinds of modelled children, in the order they are written. Group
// descriptions come before the groups that point at them; senc before saiz
// and saio, as ffmpeg takes the first it meets.
enum Kind : int {
    kSgpd, kSbgp, kSubs, kStts, kStss, kCtts, kStsc, kStsz, kStco, kSdtp, kTrik, kSenc, kSaiz, kSaio, kKinds
};

template <typename Table>
bool parse_into(std::vector<Table>& boxes, const ChildAtom& c) {
    Table t;
    if (!t.parse_atom_data(c.body(), c.body_len())) return false;
    boxes.push_back(std::move(t));
    return true;
}

template <typename Table>
void write_all(const std::vector<Table>& boxes, BeWriter& w) {
    for (const Table& t : boxes) t.write_into(w);
}

}  // namespace

int qt_stbl_info::parse_child(const ChildAtom& c) {
    const unsigned char* body = c.body();
    const size_t n = c.body_len();
    switch (c.type) {
        case fourcc("stts"): stts.parse_atom_data(body, n); return kStts;
        case fourcc("stss"): stss.parse_atom_data(body, n); return kStss;
        case fourcc("ctts"): ctts.parse_atom_data(body, n); return kCtts;
        case fourcc("stsc"): stsc.parse_atom_data(body, n); return kStsc;
        case fourcc("stsz"): stsz.parse_atom_data(body, n); return kStsz;
        case fourcc("stco"): stco.parse_atom_data(body, n, 32); return kStco;
        case fourcc("co64"): stco.parse_atom_data(body, n, 64); return kStco;
        case fourcc("sdtp"): sdtp.parse_atom_data(body, n); return kSdtp;
        case fourcc("senc"): senc.parse_atom_data(body, n); return kSenc;
        case fourcc("trik"): return trik.parse_atom_data(body, n) ? kTrik : ChildOrder::kRaw;
        // A box in a form its table cannot read is kept raw.
        case fourcc("sgpd"): return parse_into(sgpd, c) ? kSgpd : ChildOrder::kRaw;
        case fourcc("sbgp"): return parse_into(sbgp, c) ? kSbgp : ChildOrder::kRaw;
        case fourcc("subs"): return parse_into(subs, c) ? kSubs : ChildOrder::kRaw;
        case fourcc("saiz"): return parse_into(saiz, c) ? kSaiz : ChildOrder::kRaw;
        case fourcc("saio"): return parse_into(saio, c) ? kSaio : ChildOrder::kRaw;
        default: return ChildOrder::kRaw;
    }
}

void qt_stbl_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    walk_children(data, len, [&](const ChildAtom& c) { order.add(parse_child(c), other_atoms, c); });
    keep_common_samples();
}

void qt_stbl_info::keep_common_samples() {
    const uint64_t described[] = {stts.sample_count(), stsz.sample_count(), stsc.samples_in(stco.tbl.size())};
    const uint64_t n = *std::min_element(std::begin(described), std::end(described));
    samples_left_out = *std::max_element(std::begin(described), std::end(described)) - n;

    const uint64_t chunks = stsc.keep_samples(n, stco.tbl.size());
    stco.keep_chunks(chunks);
    stts.keep_samples(n);
    stsz.keep_samples(n);
    ctts.keep_samples(n);
    stss.keep_samples(n);
    sdtp.keep_samples(n);
    trik.keep_samples(n);
    senc.keep_samples(n);
    for (qt_sbgp_info& t : sbgp) {
        if (t.sample_count() > n) t.cover_samples(n);
    }
    for (qt_subs_info& t : subs) t.keep_samples(n);
    for (qt_saiz_info& t : saiz) {
        if (t.sample_count() > n) t.cover_samples(n);
    }
    // A single offset says where the information of every chunk begins.
    for (qt_saio_info& t : saio) {
        if (t.offsets.size() > 1 && t.offsets.size() > chunks) t.cover_chunks(chunks);
    }
}

void qt_stbl_info::write_into(BeWriter& w, const WriteOptions& options) const {
    size_t start = w.begin_atom(fourcc("stbl"));
    // One element of each kind: a list of boxes is written whole.
    order.write_into(w, other_atoms, std::vector<size_t>(kKinds, 1), ChildOrder::kBeforeAll, [&](int kind, size_t) {
        switch (kind) {
            case kSgpd: write_all(sgpd, w); break;
            case kSbgp: write_all(sbgp, w); break;
            case kSubs: write_all(subs, w); break;
            case kStts: stts.write_into(w); break;
            case kStss: stss.write_into(w); break;
            case kCtts: ctts.write_into(w); break;
            case kStsc: stsc.write_into(w); break;
            case kStsz: stsz.write_into(w); break;
            case kStco: stco.write_into(w, options.force_co64); break;
            case kSdtp: sdtp.write_into(w); break;
            case kTrik: trik.write_into(w); break;
            case kSenc: senc.write_into(w); break;
            case kSaiz: write_all(saiz, w); break;
            case kSaio: write_all(saio, w); break;
            default: assert(false);
        }
    });
    w.end_atom(start);
}
