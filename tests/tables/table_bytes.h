// Shared by the sample-table tests: building input bodies for table-driven
// cases, and checking the file path of write_new_atom.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <vector>

#include "atoms/be.h"
#include "tests/support/atom_bytes.h"

using atom_bytes::Bytes;
// What a table writes.
using atom_bytes::written;

// The body of a whole atom, as a container hands it to parse_atom_data.
inline Bytes body_of(const Bytes& atom) {
    return Bytes(atom.begin() + 8, atom.end());
}

// A body with the given version, flags 0, then 32-bit words: the input side
// of table-driven cases (expected bytes are always written out by hand).
inline Bytes body_of(uint8_t version, std::initializer_list<uint32_t> words) {
    Bytes out;
    BeWriter w(out);
    w.version_flags(version, 0);
    for (uint32_t word : words) w.u32(word);
    return out;
}

template <typename Table>
Table parsed(const Bytes& body) {
    Table table;
    table.parse_atom_data(body.data(), body.size());
    return table;
}

// write_new_atom at a nonzero position of a temporary file must put exactly
// `expected` there, leave the bytes before it alone and advance pos past it.
template <typename Table>
void expect_written_to_file(const Table& table, const Bytes& expected) {
    char name[] = "/tmp/tables_test_XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    const Bytes before(37, 0xA5);
    ASSERT_EQ(pwrite(fd, before.data(), before.size(), 0), static_cast<ssize_t>(before.size()));

    off_t pos = static_cast<off_t>(before.size());
    EXPECT_TRUE(table.write_new_atom(fd, pos));
    EXPECT_EQ(pos, static_cast<off_t>(before.size() + expected.size()));

    Bytes file(before.size() + expected.size() + 1);
    ssize_t n = pread(fd, file.data(), file.size(), 0);
    close(fd);
    ASSERT_EQ(n, static_cast<ssize_t>(before.size() + expected.size()));
    EXPECT_EQ(Bytes(file.begin(), file.begin() + 37), before);
    EXPECT_EQ(Bytes(file.begin() + 37, file.begin() + n), expected);
}
