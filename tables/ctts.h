// ctts, the composition offset table of a track's stbl: for every sample its
// presentation time minus its decode time, as runs of {count, offset}.
// Versions 0 and 1 are both read as signed offsets (many version-0 writers
// store negative values anyway). Written only when some offset is not 0,
// as version 1 when any offset is negative, else version 0. Runs read from
// the file are kept exactly; appended samples extend the last run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"

struct qt_composition_offset_t {
    uint32_t count;
    int32_t offset;
};

class qt_ctts_info {
public:
    // Read freely; change only through the operations below, which keep the
    // running sample count in step.
    std::vector<qt_composition_offset_t> tbl;

    void clear();
    void parse_atom_data(const unsigned char* data, size_t len);

    void addSampleCompOffset(int32_t offset);
    // Appends offset-0 samples until the table covers n samples: a track whose
    // movie atom held samples but no ctts gets them before its first
    // fragment sample with an offset.
    void pad_to_sample_count(uint64_t n);

    // Cuts the table to its first n samples, when it has more.
    void keep_samples(uint64_t n);

    uint64_t sample_count() const { return sample_count_; }

    void write_into(BeWriter& w) const;

private:
    void add_samples(uint64_t n, int32_t offset);

    uint64_t sample_count_ = 0;
};
