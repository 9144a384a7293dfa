// sdtp, the sample dependency flags table: one byte per sample
// (tables/sample_bytes.h), which a track that has one also keeps for the
// samples of fragments without their own, from each sample's flags.
#pragma once

#include <cstdint>

#include "atoms/fourcc.h"
#include "tables/sample_bytes.h"

using qt_sdtp_info = SampleByteTable<fourcc("sdtp")>;

// Records the sample at 0-based `sample_index` of the track from its sample
// flags, when the table exists. The table is first cut or zero-padded to
// that index, so it keeps exactly one byte per sample even when it held more
// or fewer than the track's samples.
void add_sdtp_sample(qt_sdtp_info& sdtp, uint32_t sample_flags, uint64_t sample_index);
