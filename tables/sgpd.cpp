#include "tables/sgpd.h"

#include <algorithm>
#include <cassert>

#include "atoms/fourcc.h"

// Layout of the body (after the 8-byte header), all big-endian:
//   u8 version (0, 1 or 2) | u24 flags | u32 grouping_type
//   | version >= 1: u32 default_length | version >= 2: u32 default_sample_description_index
//   | u32 entry_count | entry_count * { version >= 1 and default_length 0: u32 description_length
//                                     | the entry's bytes }

namespace {
constexpr uint8_t kMaxVersion = 2;
constexpr uint32_t kMaxEntries = 0x10000;
constexpr size_t kLengthBytes = 4;
}  // namespace

void qt_sgpd_info::clear() {
    version = 1;
    grouping_type = 0;
    default_description_index = 0;
    entries.clear();
}

bool qt_sgpd_info::parse_atom_data(const unsigned char* data, size_t len) {
    clear();
    BeReader r(data, len);
    const uint8_t v = r.u8();
    r.skip(3);  // flags: none defined
    grouping_type = r.u32();
    const uint32_t default_length = v >= 1 ? r.u32() : 0;
    if (v >= 2) default_description_index = r.u32();
    const uint32_t count = r.u32();
    if (!r.ok() || v > kMaxVersion) {
        clear();
        return false;
    }
    version = v;
    size_t fixed = default_length;
    if (v == 0 && count != 0) {
        // Entries of no bytes say nothing; a count beyond the body is damage.
        if (r.remaining() < count || r.remaining() % count != 0) {
            clear();
            return false;
        }
        fixed = r.remaining() / count;
    }
    for (uint32_t i = 0; i < count; ++i) {
        size_t n = fixed;
        if (v >= 1 && default_length == 0) {
            if (r.remaining() < kLengthBytes) break;
            n = r.u32();
        }
        const unsigned char* bytes = r.bytes(n);
        if (bytes == nullptr) break;  // cut short: the entries before stay
        entries.emplace_back(bytes, bytes + n);
    }
    return true;
}

uint32_t qt_sgpd_info::index_of(const Entry& entry) {
    auto it = std::find(entries.begin(), entries.end(), entry);
    if (it != entries.end()) return static_cast<uint32_t>(it - entries.begin()) + 1;
    if (entries.size() >= kMaxEntries) return 0;
    entries.push_back(entry);
    return static_cast<uint32_t>(entries.size());
}

void qt_sgpd_info::write_into(BeWriter& w) const {
    const bool equal = std::all_of(entries.begin(), entries.end(),
                                   [&](const Entry& e) { return e.size() == entries[0].size(); });
    const uint8_t v = (version == 0 && !equal) ? 1 : version;
    const uint32_t default_length = (equal && !entries.empty()) ? static_cast<uint32_t>(entries[0].size()) : 0;
    size_t start = w.begin_atom(fourcc("sgpd"));
    w.version_flags(v, 0);
    w.u32(grouping_type);
    if (v >= 1) w.u32(default_length);
    if (v >= 2) w.u32(default_description_index);
    w.count32(entries.size());
    size_t entry_bytes = 0;
    for (const Entry& e : entries) {
        // Each entry was read from a body of a 32-bit size, so its length fits.
        if (v >= 1 && default_length == 0) {
            w.u32(static_cast<uint32_t>(e.size()));
            entry_bytes += kLengthBytes;
        }
        w.bytes(e);
        entry_bytes += e.size();
    }
    w.end_atom(start);
    assert(w.size() - start == 20 + (v >= 1 ? 4 : 0) + (v >= 2 ? 4 : 0) + entry_bytes);
}
