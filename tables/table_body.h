// The opening that the counted sample tables (and elst) share: version byte,
// 24 flag bits (none defined), u32 entry count, all big-endian. What follows
// is entries of a fixed size per version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "atoms/be.h"

// Reads the opening and returns how many whole entries of `entry_bytes`
// follow it, at most the count it declares: a count beyond the body is not
// trusted for a reservation. A body too short for the opening, or a version
// above `max_version`, is refused: 0, and the reader is left failed, so that
// r.ok() tells a refused table from an empty one. `version`, when given,
// receives the version of an accepted table.
size_t read_table_header(BeReader& r, size_t entry_bytes, uint8_t max_version = 0, uint8_t* version = nullptr);

// The same for a table whose entry size depends on its version: one size per
// accepted version, from version 0 on.
size_t read_table_header(BeReader& r, std::initializer_list<size_t> entry_bytes_by_version,
                         uint8_t* version = nullptr);
