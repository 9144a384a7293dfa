#include "tables/sdtp.h"

#include "tables/sample_flags.h"

void add_sdtp_sample(qt_sdtp_info& sdtp, uint32_t sample_flags, uint64_t sample_index) {
    if (!sdtp.present) return;
    sdtp.tbl.resize(static_cast<size_t>(sample_index), 0);
    sdtp.tbl.push_back(sdtp_byte_from_sample_flags(sample_flags));
}
