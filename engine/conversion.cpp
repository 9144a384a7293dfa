#include "engine/conversion.h"

#include <memory>

#include "atoms/fourcc.h"
#include "atomstack/read_ahead.h"
#include "atomstack/top_level_walk.h"
#include "engine/fragment_index.h"
#include "engine/rebuild.h"
#include "engine/undo_record.h"

namespace {

// Fewer fragments than this are read as the walk meets them.
constexpr size_t kIndexWorthReading = 4;
// The largest mfra read: far more entries than any recording has.
constexpr uint64_t kMaxIndexBytes = uint64_t{64} << 20;
// A sidx holds at most 65,535 references of 12 bytes.
constexpr uint64_t kMaxSidxBytes = uint64_t{1} << 20;

// The moof positions an mfra at the end of the file names.
std::vector<uint64_t> mfra_positions(const FileReader& file, const FileTail& tail) {
    const size_t n = tail.bytes.size();
    const uint64_t size = n >= 16 ? mfra_size_from_mfro(tail.bytes.data() + n - 16, 16) : 0;
    const uint64_t end = tail.at + n;
    if (size < 16 || size > end || size > kMaxIndexBytes) return {};
    std::vector<unsigned char> held;
    const unsigned char* mfra = nullptr;
    if (end - size >= tail.at) {
        mfra = tail.bytes.data() + (end - size - tail.at);
    } else {
        held.resize(static_cast<size_t>(size));
        if (!file.read_exact(end - size, held)) return {};
        mfra = held.data();
    }
    AtomHeader h;
    if (read_atom_header(mfra, static_cast<size_t>(size), end - size, end, h) != HeaderRead::ok ||
        h.type != fourcc("mfra") || h.end != end) {
        return {};
    }
    return moof_offsets_from_mfra(mfra + h.header, static_cast<size_t>(size - h.header));
}

// The walk over the file, filling the scan and handing each fragment to the
// merge once the moov is known. `scanning`: the first walk, from the start
// of the file; a second one, from the first moof, only merges.
struct Walk {
    const FileReader& file;
    ConversionPlan& plan;
    FragmentMerge& merge;
    bool reading_ahead;
    std::unique_ptr<ReadAhead> ahead;
    std::vector<unsigned char> ftyp;
    bool moov_read = false;
    FoundAtom mvex;

    void read_ahead(TopLevelWalk& walk, std::vector<uint64_t> positions) {
        if (ahead || !reading_ahead || positions.size() < kIndexWorthReading) return;
        ahead = std::make_unique<ReadAhead>(file, std::move(positions), walk.end());
        plan.read_ahead = ahead->positions();
        walk.use_read_ahead(ahead.get());
    }

    void moov(TopLevelWalk& walk, const AtomHeader& a) {
        ByteSpan payload;
        if (check_moov_size(a).ok() && a.end <= walk.end() && walk.payload(a, kMaxMoovPayload, payload)) {
            plan.moov_payload.assign(payload.data, payload.data + payload.len);
            moov_read = true;
            mvex = find_mvex(payload.data, payload.len, a.body());
        } else {
            // Too large to hold: its children's headers are enough for the scan.
            TopLevelWalk children(file, a.body(), std::min(a.end, walk.end()), 0);
            for (AtomHeader c; !mvex.found && children.next(c);) {
                if (c.type == fourcc("mvex")) mvex = FoundAtom{true, c};
            }
        }
        // The fragments can be merged as they come when the moov comes first.
        if (moov_read && mvex.found && !plan.scan.first_moof.found) merge.start(plan.moov_payload);
    }

    void moof(TopLevelWalk& walk, const AtomHeader& a) {
        ++plan.fragments;
        if (!merge.started()) return;
        ByteSpan payload;
        const uint64_t declared = a.end - a.body();
        if (declared > kMaxMoofPayload || !walk.payload(a, declared, payload)) merge.unreadable();
        else merge.add(a, payload.data, payload.len);
    }

    void run(TopLevelWalk& walk, bool scanning) {
        for (AtomHeader a; walk.next(a);) {
            const bool first = scanning && plan.scan.see(a);
            ByteSpan bytes;
            if (a.type == fourcc("moof")) {
                moof(walk, a);
            } else if (first && a.type == fourcc("ftyp")) {
                if (walk.payload(a, kBrandBytes, bytes)) ftyp.assign(bytes.data, bytes.data + bytes.len);
            } else if (first && a.type == fourcc("moov")) {
                moov(walk, a);
            } else if (a.type == fourcc("sidx") && !ahead && walk.payload(a, kMaxSidxBytes, bytes)) {
                read_ahead(walk, fragment_offsets_from_sidx(bytes.data, bytes.len, std::min(a.end, walk.end())));
            }
        }
    }
};

}  // namespace

ConversionPlan plan_conversion(const FileReader& file, qt_moov_info& movie, const ConversionInput& in) {
    ConversionPlan p;
    const FileReader view = file.limited_to(in.file_size);
    FragmentMerge merge(movie, in.file_size);
    Walk w{view, p, merge, in.read_ahead && !in.debug_move_moov, nullptr, {}, false, {}};
    {
        TopLevelWalk walk(view, 0, in.file_size);
        if (in.tail != nullptr && w.reading_ahead) w.read_ahead(walk, mfra_positions(view, *in.tail));
        w.run(walk, true);
        w.ahead.reset();
    }
    decide_scan(p.scan, w.ftyp.data(), w.ftyp.size(), w.mvex);
    if (p.scan.verdict != Msg::none) {
        p.refusal = {p.scan.verdict};
        return p;
    }
    const AtomHeader& moov = p.scan.moov.atom;
    p.refusal = check_moov_size(moov);
    if (!p.refusal.ok()) return p;
    if (!w.moov_read) {
        p.refusal = {Msg::failed_read_moov};
        return p;
    }
    p.refusal = check_moov_placement(moov, p.scan.mdat.atom, in.file_size, in.force_mdat64);
    if (!p.refusal.ok()) return p;

    if (!in.debug_move_moov) {
        if (!merge.started()) {
            // The moov came after a fragment: merge in a second walk.
            merge.start(p.moov_payload);
            p.fragments = 0;
            TopLevelWalk walk(view, p.scan.first_moof.atom.start, in.file_size);
            w.run(walk, false);
        }
        NewMovie m = merge.finish(in.write);
        p.refusal = m.refusal;
        if (!p.refusal.ok()) return p;
        p.new_moov = std::move(m.atom);
        p.merged = m.merged;
        p.undescribed = m.undescribed;
    }
    p.relocation = plan_relocation(RelocationInput{moov.start, p.scan.mdat.atom.start, in.file_size, in.force_mdat64,
                                                   in.debug_move_moov, &p.moov_payload});
    p.original_moov = moov_atom_bytes(p.moov_payload);
    p.new_moov_at = p.relocation.append_end;
    p.journal = make_journal(JournalOp::convert, p.new_moov_at + p.new_moov.size(), in.file_size, moov.start,
                             p.original_moov, p.relocation.saved_moov_at);
    return p;
}
