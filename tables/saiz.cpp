#include "tables/saiz.h"

#include <algorithm>
#include <cassert>
#include <limits>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0) | u24 flags | if flags & 1: u32 aux_info_type, u32 aux_info_type_parameter
//   | u8 default_sample_info_size | u32 sample_count
//   | sample_count * u8 sample_info_size, present only when the default is 0

namespace {
constexpr uint32_t kMaxCount = std::numeric_limits<uint32_t>::max();
}  // namespace

void qt_saiz_info::clear() {
    info_type = AuxInfoType{};
    default_size = 0;
    default_count = 0;
    tbl.clear();
}

bool qt_saiz_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const uint8_t version = r.u8();
    info_type.read(r, r.u24());
    const uint8_t size = r.u8();
    const uint32_t count = r.u32();
    if (!r.ok() || version != 0) {
        clear();
        return false;
    }
    if (size != 0) {
        default_size = size;
        default_count = count;
        return true;
    }
    const size_t n = std::min<size_t>(count, r.remaining());
    const unsigned char* sizes = r.bytes(n);
    if (n != 0) tbl.assign(sizes, sizes + n);
    return true;
}

uint8_t qt_saiz_info::size_of(uint64_t index) const {
    if (index >= sample_count()) return 0;
    return default_size != 0 ? default_size : tbl[static_cast<size_t>(index)];
}

void qt_saiz_info::expand() {
    if (default_size == 0) return;
    tbl.assign(default_count, default_size);
    default_size = 0;
    default_count = 0;
}

void qt_saiz_info::cover_samples(uint64_t n) {
    if (n == sample_count()) return;
    if (default_size != 0 && n < default_count) {
        default_count = static_cast<uint32_t>(n);
        return;
    }
    expand();
    tbl.resize(static_cast<size_t>(std::min<uint64_t>(n, kMaxCount)), 0);
}

void qt_saiz_info::add_sample_size(uint8_t size) {
    if (sample_count() == 0 && size != 0) {
        default_size = size;
        default_count = 1;
        return;
    }
    if (sample_count() >= kMaxCount) return;
    if (default_size != 0 && size == default_size) {
        ++default_count;
        return;
    }
    expand();
    tbl.push_back(size);
}

void qt_saiz_info::write_into(BeWriter& w) const {
    uint8_t common = default_size;
    if (common == 0 && !tbl.empty() && std::all_of(tbl.begin(), tbl.end(), [&](uint8_t s) { return s == tbl[0]; })) {
        common = tbl[0];
    }
    const uint64_t count = sample_count();
    size_t start = w.begin_atom(fourcc("saiz"));
    w.version_flags(0, info_type.flags());
    info_type.write(w);
    w.u8(common);
    w.count32(count);
    if (common == 0) w.bytes(tbl.data(), tbl.size());
    w.end_atom(start);
    assert(w.size() - start == 17 + (info_type.present ? 8 : 0) + (common == 0 ? tbl.size() : 0));
}
