// The journal of an operation in progress: a small atom at the very end of
// the file, written and made durable before the first byte of the original
// region is overwritten, and removed by truncation once the operation is
// complete. A run that finds one knows the previous run was interrupted and
// how to bring the file back to its original bytes.
//
// Layout (big-endian), 80 bytes:
//    0 size 80            4 type 'MFJR'         8 magic "morvakJ1"
//   16 offset of this atom (where the file ends once it is removed)
//   24 operation (1 convert, 2 undo)            28 original file size S
//   36 offset of the original moov (M)          44 its length, header included
//   52 offset of the saved copy of that moov    60 hash of the original moov bytes
//   68 zero                                      72 hash of bytes 0..71
// Everything a recovery needs when the write of the journal itself was cut
// short (operation and S) lies in its first 36 bytes.
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

enum class JournalState { none, partial, complete };

constexpr uint64_t kJournalSize = 80;
constexpr uint64_t kJournalPrefixNeeded = 36;

std::vector<unsigned char> encode_journal(const Journal& j);

// Looks at the last bytes of a file of file_size bytes (tail holds them, at
// most kJournalSize) for a complete journal or the start of one whose write
// was cut short. A partial journal fills op, self_offset and orig_size only.
JournalState find_journal(const std::vector<unsigned char>& tail, uint64_t file_size, Journal& out);

uint64_t content_hash(const unsigned char* data, size_t len, uint64_t seed = 0xcbf29ce484222325ull);

// The journal of an operation that puts `moov_atom` (the original moov,
// header included) at moov_offset, with its copy at copy_offset; the journal
// itself stands at self_offset, the file's end when the operation is done.
Journal make_journal(JournalOp op, uint64_t self_offset, uint64_t orig_size, uint64_t moov_offset,
                     const std::vector<unsigned char>& moov_atom, uint64_t copy_offset);
