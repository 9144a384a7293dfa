#include "tables/table_body.h"

#include <algorithm>
#include <cassert>

namespace {

// Reads the opening; false, with the reader failed, when it is refused.
bool read_opening(BeReader& r, uint8_t max_version, uint8_t& version, uint32_t& entries) {
    version = r.u8();
    r.skip(3);  // flags: none defined
    entries = r.u32();
    if (version > max_version) r.fail();
    return r.ok();
}

size_t whole_entries(const BeReader& r, uint32_t entries, size_t entry_bytes) {
    return std::min<size_t>(entries, r.remaining() / entry_bytes);
}

}  // namespace

size_t read_table_header(BeReader& r, size_t entry_bytes, uint8_t max_version, uint8_t* version) {
    uint8_t v = 0;
    uint32_t entries = 0;
    if (!read_opening(r, max_version, v, entries)) return 0;
    if (version != nullptr) *version = v;
    return whole_entries(r, entries, entry_bytes);
}

size_t read_table_header(BeReader& r, std::initializer_list<size_t> entry_bytes_by_version, uint8_t* version) {
    assert(entry_bytes_by_version.size() >= 1 && entry_bytes_by_version.size() <= 256);
    uint8_t v = 0;
    uint32_t entries = 0;
    if (!read_opening(r, static_cast<uint8_t>(entry_bytes_by_version.size() - 1), v, entries)) return 0;
    if (version != nullptr) *version = v;
    return whole_entries(r, entries, entry_bytes_by_version.begin()[v]);
}
