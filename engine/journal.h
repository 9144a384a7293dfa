// The journal of an operation in progress: a small atom at the very end of
// the file, written and made durable before the first byte of the original
// region is overwritten, and removed by truncation once the operation is
// complete. A run that finds one knows the previous run was interrupted.
//
// Layout (big-endian), 80 bytes:
//    0 size 80        4 type 'MFJR'      8 offset of this atom (where the file
//                                          ends once it is removed)
//   16 operation (1 convert, 2 undo)    20 original file size S
//   28 hash of bytes 0..27: the head, checked on its own
//   36 offset of the original moov (M)  44 its length, header included
//   52 offset of the saved copy of that moov
//   60 hash of the original moov bytes  68 zero
//   72 hash of bytes 0..71
// No field is believed before a hash over it has been checked. A write cut
// short leaves a prefix: from 36 bytes on its head (operation and S) can
// still be checked; a shorter one says only that a journal was being
// written. A journal of full length whose hash fails was damaged after it
// was made durable: nothing in it can be acted on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

enum class JournalOp : uint32_t { convert = 1, undo = 2 };

struct Journal {
    JournalOp op = JournalOp::convert;
    uint64_t self_offset = 0;
    uint64_t orig_size = 0;
    uint64_t moov_offset = 0;
    uint64_t moov_length = 0;
    uint64_t copy_offset = 0;
    uint64_t moov_hash = 0;
};

enum class JournalState {
    none,
    complete,   // every field checked
    cut,        // a prefix: `head_checked` tells whether op and orig_size hold
    damaged,    // full length, a hash fails: not to be acted on
};

struct FoundJournal {
    JournalState state = JournalState::none;
    bool head_checked = false;
    uint64_t at = 0;  // where it begins: the file's size without it
    Journal journal;  // complete: all; cut with a checked head: op, self_offset, orig_size
};

constexpr uint64_t kJournalSize = 80;
constexpr uint64_t kJournalHead = 36;
// The shortest prefix told apart from other bytes: its size and type.
constexpr uint64_t kJournalPrefixNeeded = 8;

std::vector<unsigned char> encode_journal(const Journal& j);

// Looks at the last bytes of a file of file_size bytes (tail holds them,
// at least the last kJournalSize where the file has them).
FoundJournal find_journal(const unsigned char* tail, size_t tail_len, uint64_t file_size);

uint64_t content_hash(const unsigned char* data, size_t len, uint64_t seed = 0xcbf29ce484222325ull);

// The journal of an operation that puts `moov_atom` (the original moov,
// header included) at moov_offset, with its copy at copy_offset; the journal
// itself stands at self_offset, the file's end when the operation is done.
Journal make_journal(JournalOp op, uint64_t self_offset, uint64_t orig_size, uint64_t moov_offset,
                     const std::vector<unsigned char>& moov_atom, uint64_t copy_offset);
