// The walk over the atoms of a stretch of the file, in file order, as the
// conversion, the undo and the recovery read it. It reads ahead: one read
// brings an atom's header, its payload when it is asked for, and the header
// after it, so that the walk learns where to go next from the same read.
// A read for a header asks for as many bytes as the walk expects to use
// before it next skips an atom's payload (a fragment's head: its moof and
// the media data header after it, learned from the heads before), so a
// recording costs about one read per fragment, and one of small fragments
// fewer.
//
// Headers follow atoms/atom_header.h. An atom that claims to run past the
// stretch's end is the last one walked.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/atom_header.h"
#include "atomstack/file_reader.h"

class ReadAhead;

struct ByteSpan {
    const unsigned char* data = nullptr;
    size_t len = 0;
};

class TopLevelWalk {
public:
    // Walks [from, end) of the file; the first read asks for `first_read` bytes.
    TopLevelWalk(const FileReader& file, uint64_t from, uint64_t end, uint64_t first_read = 16384);

    // Reads that jump ahead take the bytes from here first, when it has them.
    void use_read_ahead(ReadAhead* ahead) { ahead_ = ahead; }

    // The next atom; false at the end or at a header that ends the walk.
    bool next(AtomHeader& out);
    // The atom's payload as far as the stretch holds it, at most `max` bytes,
    // read whole or not at all: false when a read fails short. The view
    // stays valid until the walk reads again.
    bool payload(const AtomHeader& a, uint64_t max, ByteSpan& out);
    // The bytes of [at, at + len) of the stretch, if they can be read.
    bool bytes(uint64_t at, size_t len, ByteSpan& out);

    uint64_t end() const { return end_; }

private:
    // [from, to) in the buffer, reading at least up to `read_to`.
    bool ensure(uint64_t from, uint64_t to, uint64_t read_to);
    bool extend(uint64_t to);
    uint64_t buffer_end() const { return buf_at_ + buf_.size(); }
    void used_up_to(uint64_t at) { used_to_ = std::max(used_to_, at); }

    FileReader file_;
    uint64_t pos_, end_;
    ReadAhead* ahead_ = nullptr;
    std::vector<unsigned char> buf_;
    uint64_t buf_at_ = 0;
    // Learning the size of a fragment's head: from where the walk last
    // resumed after a skipped payload to the end of what it used since.
    uint64_t expected_;
    uint64_t head_from_, used_to_, last_head_ = 0;
};
