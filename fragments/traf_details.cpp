#include "fragments/traf_details.h"

TrafDetails::TrafDetails(const moof_traf_info_t& traf, qt_track_info& track, uint64_t data_base,
                         const MoofBody& moof, uint32_t description_index)
    : traf_(traf),
      track_(track),
      aux_(traf, track, data_base, moof, description_index),
      groups_(traf, track.stbl()) {
    std::vector<qt_subs_info>& tables = track.stbl().subs;
    for (const qt_subs_info& from : traf.subs) {
        size_t target = 0;
        while (target < tables.size() && tables[target].flags != from.flags) ++target;
        if (target == tables.size()) {
            qt_subs_info fresh;
            fresh.flags = from.flags;
            tables.push_back(fresh);
        }
        subs_.push_back(SubsStream{&from, target});
    }
}

void TrafDetails::sample(size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index) {
    aux_.sample(run, run_first, traf_index, track_index);
    groups_.sample(traf_index, track_index);
    // Sample numbers are 1-based: the traf's entry for this sample has traf_index + 1.
    for (SubsStream& s : subs_) {
        const auto& entries = s.from->entries;
        while (s.next < entries.size() && entries[s.next].sample_number < traf_index + 1) ++s.next;
        if (s.next < entries.size() && entries[s.next].sample_number == traf_index + 1) {
            track_.stbl().subs[s.target].add_entry({track_index + 1, entries[s.next].subsamples});
        }
    }
    if (traf_index < traf_.sdtp.tbl.size()) {
        track_.stbl().sdtp.set_sample(track_index, traf_.sdtp.tbl[static_cast<size_t>(traf_index)]);
    }
    qt_trik_info& trik = track_.stbl().trik;
    if (traf_index < traf_.trik.tbl.size()) trik.set_sample(track_index, traf_.trik.tbl[static_cast<size_t>(traf_index)]);
    else if (trik.present) trik.set_sample(track_index, 0);
}
