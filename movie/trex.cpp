#include "movie/trex.h"

#include "atoms/be.h"

// Body: u8 version (0) | u24 flags (ignored) | u32 track_ID |
//       u32 default_sample_description_index | u32 default_sample_duration |
//       u32 default_sample_size | u32 default_sample_flags
namespace {
constexpr size_t kTrexBodySize = 24;
}  // namespace

void qt_trex_info::parse_atom_data(const unsigned char* data, size_t len) {
    if (len < kTrexBodySize || data[0] != 0) return;
    BeReader r(data, len);
    r.skip(4);  // version and flags
    track_ID = r.u32();
    default_sample_description_index = r.u32();
    default_sample_duration = r.u32();
    default_sample_size = r.u32();
    default_sample_flags = r.u32();
}
