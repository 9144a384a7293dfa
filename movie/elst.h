// qt_elst_info: the edit list (elst, inside trak/edts): the track's segments
// of the movie timeline, in order. Each entry shows segment_duration movie
// ticks of the media starting at media_time (media ticks; -1 for an empty
// edit, during which the track shows nothing) at the given rate (16.16 fixed
// point split in two halves). Versions 0 and 1 are read; a body of another
// version, or too short for its header, leaves the list absent. The entry
// count is clamped to the body. Written as version 0 unless a value needs
// version 1; no flags are defined, so they are written as 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_edit_list_entry_t {
    uint64_t segment_duration;  // movie timescale
    int64_t media_time;         // media timescale; negative: empty edit
    int16_t media_rate_integer;
    int16_t media_rate_fraction;

    bool empty() const { return media_time < 0; }
};

class qt_elst_info {
public:
    static constexpr int64_t kEmptyEdit = -1;

    std::vector<qt_edit_list_entry_t> entries;
    bool present = false;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    // Sum of the segment durations, saturating.
    uint64_t total_duration() const;

    // The whole atom, or nothing when absent.
    void write_into(BeWriter& w) const;
};
