#include "engine/journal.h"

#include <algorithm>

#include "atoms/be.h"
#include "atoms/fourcc.h"

namespace {

constexpr size_t kHeadHashAt = 28;
constexpr size_t kHashAt = 72;

bool valid_op(uint32_t op) {
    return op == static_cast<uint32_t>(JournalOp::convert) || op == static_cast<uint32_t>(JournalOp::undo);
}

bool hash_holds(const unsigned char* p, size_t at) { return be::read_u64(p + at) == content_hash(p, at); }

// Whether `len` bytes at p are the first bytes of a journal standing at `at`:
// its size and type, and as much of its own offset as they hold.
bool journal_prefix(const unsigned char* p, size_t len, uint64_t at) {
    unsigned char head[16];
    be::put_u32(head, static_cast<uint32_t>(kJournalSize));
    be::put_u32(head + 4, fourcc("MFJR"));
    be::put_u64(head + 8, at);
    return std::equal(p, p + std::min<size_t>(len, sizeof head), head);
}

}  // namespace

uint64_t content_hash(const unsigned char* data, size_t len, uint64_t seed) {
    // FNV-1a: enough to tell the original moov from anything a cut write,
    // a half-restored region or a damaged journal could leave.
    uint64_t h = seed;
    for (size_t i = 0; i < len; ++i) {
        h ^= data[i];
        h *= 0x100000001b3ull;
    }
    return h;
}

std::vector<unsigned char> encode_journal(const Journal& j) {
    std::vector<unsigned char> b;
    BeWriter w(b);
    w.u32(static_cast<uint32_t>(kJournalSize));
    w.u32(fourcc("MFJR"));
    w.u64(j.self_offset);
    w.u32(static_cast<uint32_t>(j.op));
    w.u64(j.orig_size);
    w.u64(content_hash(b.data(), b.size()));
    w.u64(j.moov_offset);
    w.u64(j.moov_length);
    w.u64(j.copy_offset);
    w.u64(j.moov_hash);
    w.u32(0);
    w.u64(content_hash(b.data(), b.size()));
    return b;
}

FoundJournal find_journal(const unsigned char* tail, size_t tail_len, uint64_t file_size) {
    FoundJournal found;
    const size_t have = static_cast<size_t>(std::min<uint64_t>(tail_len, file_size));
    const unsigned char* end = tail + tail_len;
    if (have >= kJournalSize) {
        // Full length: it is a journal when its size and type, or its own
        // offset, say so; one damaged byte leaves the other.
        const unsigned char* p = end - kJournalSize;
        const uint64_t at = file_size - kJournalSize;
        if (journal_prefix(p, 8, at) || be::read_u64(p + 8) == at) {
            found.at = at;
            found.state = JournalState::damaged;
            if (!hash_holds(p, kHashAt) || !hash_holds(p, kHeadHashAt) || !valid_op(be::read_u32(p + 16))) {
                return found;
            }
            BeReader r(p + 8, kJournalSize - 8);
            Journal& j = found.journal;
            j.self_offset = r.u64();
            j.op = static_cast<JournalOp>(r.u32());
            j.orig_size = r.u64();
            r.skip(8);
            j.moov_offset = r.u64();
            j.moov_length = r.u64();
            j.copy_offset = r.u64();
            j.moov_hash = r.u64();
            found.state = JournalState::complete;
            found.head_checked = true;
            return found;
        }
    }
    for (size_t len = kJournalSize - 1; len >= kJournalPrefixNeeded; --len) {
        if (len > have || !journal_prefix(end - len, len, file_size - len)) continue;
        const unsigned char* p = end - len;
        found.state = JournalState::cut;
        found.at = file_size - len;
        if (len >= kJournalHead && hash_holds(p, kHeadHashAt) && valid_op(be::read_u32(p + 16))) {
            found.head_checked = true;
            found.journal.self_offset = found.at;
            found.journal.op = static_cast<JournalOp>(be::read_u32(p + 16));
            found.journal.orig_size = be::read_u64(p + 20);
        }
        return found;
    }
    return found;
}

Journal make_journal(JournalOp op, uint64_t self_offset, uint64_t orig_size, uint64_t moov_offset,
                     const std::vector<unsigned char>& moov_atom, uint64_t copy_offset) {
    Journal j;
    j.op = op;
    j.self_offset = self_offset;
    j.orig_size = orig_size;
    j.moov_offset = moov_offset;
    j.moov_length = moov_atom.size();
    j.copy_offset = copy_offset;
    j.moov_hash = content_hash(moov_atom.data(), moov_atom.size());
    return j;
}
