#include "fragments/group_merge.h"

namespace {

// Indices above this point into the fragment's own sgpd.
constexpr uint32_t kFragmentLocalBase = 0x10000;

}  // namespace

GroupMerge::GroupMerge(const moof_traf_info_t& traf, qt_stbl_info& stbl) : traf_(traf), stbl_(stbl) {
    for (const qt_sbgp_info& from : traf.sbgp) {
        size_t target = 0;
        while (target < stbl.sbgp.size() && !stbl.sbgp[target].same_grouping(from)) ++target;
        if (target == stbl.sbgp.size()) {
            qt_sbgp_info fresh;
            fresh.grouping_type = from.grouping_type;
            fresh.has_parameter = from.has_parameter;
            fresh.grouping_type_parameter = from.grouping_type_parameter;
            stbl.sbgp.push_back(fresh);
        }
        streams_.push_back(Stream{&from, target});
    }
}

uint32_t GroupMerge::renumber(const qt_sbgp_info& from, uint32_t index) {
    if (index <= kFragmentLocalBase) return index;
    const uint32_t local = index - kFragmentLocalBase;  // 1-based
    for (const qt_sgpd_info& own : traf_.sgpd) {
        if (own.grouping_type != from.grouping_type) continue;
        if (local > own.entries.size()) return 0;  // points at nothing
        size_t at = 0;
        while (at < stbl_.sgpd.size() && stbl_.sgpd[at].grouping_type != from.grouping_type) ++at;
        if (at == stbl_.sgpd.size()) {
            qt_sgpd_info fresh;
            fresh.version = own.version;
            fresh.grouping_type = own.grouping_type;
            stbl_.sgpd.push_back(fresh);
        }
        return stbl_.sgpd[at].index_of(own.entries[local - 1]);
    }
    return 0;
}

void GroupMerge::sample(uint64_t traf_index, uint64_t track_index) {
    for (Stream& s : streams_) {
        const std::vector<qt_sample_to_group_t>& runs = s.from->tbl;
        while (s.run < runs.size() && traf_index >= s.run_first + runs[s.run].count) {
            s.run_first += runs[s.run].count;
            ++s.run;
            s.mapped = false;
        }
        if (!s.mapped) {
            s.index = s.run < runs.size() ? renumber(*s.from, runs[s.run].group_index) : 0;
            s.mapped = true;
        }
        qt_sbgp_info& target = stbl_.sbgp[s.target];
        target.cover_samples(track_index);
        target.add_samples(1, s.index);
    }
}
