#include "engine/rebuild.h"

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"
#include "movie/durations.h"

namespace {

// A moof cut off by the end of the file (a recording that stopped while its
// fragment was being written) is merged as far as it goes: the children cut
// off are shortened to what is there, so that their samples count as left
// out rather than vanish.
void shorten_cut_children(unsigned char* body, size_t len) {
    walk_children(
        body, len,
        [&](const ChildAtom& c) {
            if (!c.cut) return;
            unsigned char* atom = body + (c.atom - body);
            if (c.header == 16) be::put_u64(atom + 8, c.size);
            else be::put_u32(atom, static_cast<uint32_t>(c.size));
            if (c.type == fourcc("traf")) shorten_cut_children(atom + c.header, c.size - c.header);
        },
        true);
}

}  // namespace

FragmentMerge::FragmentMerge(qt_moov_info& movie, uint64_t file_size)
    : movie_(movie), bounds_{file_size, file_size} {
    bounds_.moof_starts = &moof_starts_;
}

void FragmentMerge::start(const std::vector<unsigned char>& moov_payload) {
    movie_.parse_atom_data(moov_payload.data(), moov_payload.size());
    too_large_ = movie_.declares_too_many_samples();
    started_ = true;
}

void FragmentMerge::add(const AtomHeader& moof, const unsigned char* held, size_t len) {
    moof_starts_.push_back(moof.start);
    merge_pending();
    pending_ = moof;
    pending_bytes_.assign(held, held + len);
    has_pending_ = true;
}

void FragmentMerge::merge_pending() {
    if (!has_pending_) return;
    has_pending_ = false;
    // Refused either way: no point merging on.
    if (too_large_ || unreadable_ || total_.too_many_samples || pending_bytes_.empty()) return;
    if (pending_.end - pending_.body() > pending_bytes_.size()) shorten_cut_children(pending_bytes_.data(), pending_bytes_.size());
    const MergeReport r = append_from_moof_atom(movie_, pending_bytes_.data(), pending_bytes_.size(), pending_.start,
                                                bounds_, pending_.header);
    total_.unlocated_trafs += r.unlocated_trafs;
    total_.samples_left_out += r.samples_left_out;
    total_.too_many_samples = total_.too_many_samples || r.too_many_samples;
}

NewMovie FragmentMerge::finish(const WriteOptions& options) {
    merge_pending();
    std::vector<unsigned char>().swap(pending_bytes_);
    NewMovie out;
    out.merged = total_;
    out.undescribed = movie_.samples_left_out();
    if (too_large_) {
        out.refusal = {Msg::moov_too_large};
        return out;
    }
    if (unreadable_) {
        out.refusal = {Msg::failed_read_moof};
        return out;
    }
    if (!rewrite_durations(movie_, options)) {
        out.refusal = {Msg::track_timeline_too_long};
        return out;
    }
    BeWriter w(out.atom);
    movie_.write_into(w, options);
    // Table fields and atom sizes are 32-bit inside the movie atom; wrapped,
    // they would describe other samples than the file holds.
    if (out.merged.too_many_samples || w.count_overflowed()) {
        out.refusal = {Msg::too_many_samples};
    } else if (w.size_overflowed() || out.atom.size() > UINT32_MAX) {
        out.refusal = {Msg::new_moov_too_large};
    }
    return out;
}
