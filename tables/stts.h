// stts, the time-to-sample table of a track's stbl: the decode duration of
// every sample, as runs of {count, duration} in media timescale ticks.
// Runs read from the file are kept exactly (equal neighbours are not merged,
// count-0 runs are not dropped); appended samples extend the last run.
// Only version 0 exists; a body of another version or too short reads as an
// empty table. The atom is always written, also when empty.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_time_to_sample_t {
    uint32_t count;
    uint32_t duration;
};

class qt_stts_info {
public:
    // Read freely; change only through the operations below, which keep the
    // running totals in step.
    std::vector<qt_time_to_sample_t> tbl;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    void addSampleDuration(uint32_t duration);
    // Lengthens the last sample by `pad` ticks (at most to 2^31 - 1), so that a
    // fragment's decode time can start where the track now ends. Trailing
    // runs of count 0 are passed over; a run of several samples gives up its
    // last one to a new single-sample run so the others keep their duration.
    void padLastSample(uint64_t pad);
    // Shortens the samples from 0-based index `first` on by `amount` ticks in
    // all, so that a fragment's decode time can start before where the track
    // now ends: the last sample first, none below 1 tick. Changes nothing and
    // returns false when those samples cannot give that much.
    bool trim_last_samples(uint64_t amount, uint64_t first);

    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n);

    uint64_t sample_count() const { return sample_count_; }
    // Sum of count * duration, modulo 2^64.
    uint64_t total_duration() const { return total_duration_; }

    void write_into(BeWriter& w) const;

private:
    void add_run(qt_time_to_sample_t run);

    uint64_t sample_count_ = 0;
    uint64_t total_duration_ = 0;
};
