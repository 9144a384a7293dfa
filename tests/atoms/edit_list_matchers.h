// Edit list entries compared and printed field by field, for the tests that
// check the entries a parse or a timeline rebuild produces.
#pragma once

#include <ostream>
#include <vector>

#include "movie/elst.h"

inline bool operator==(const qt_edit_list_entry_t& a, const qt_edit_list_entry_t& b) {
    return a.segment_duration == b.segment_duration && a.media_time == b.media_time &&
           a.media_rate_integer == b.media_rate_integer && a.media_rate_fraction == b.media_rate_fraction;
}
inline std::ostream& operator<<(std::ostream& os, const qt_edit_list_entry_t& e) {
    return os << "{" << e.segment_duration << ", " << e.media_time << ", " << e.media_rate_integer << ", "
              << e.media_rate_fraction << "}";
}

using Edits = std::vector<qt_edit_list_entry_t>;
