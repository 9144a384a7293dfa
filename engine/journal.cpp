#include "engine/journal.h"

#include "atoms/be.h"
#include "atoms/fourcc.h"

namespace {

constexpr uint64_t kMagic = 0x6D6F7276616B4A31ull;  // "morvakJ1"
constexpr size_t kHashedLength = 72;

}  // namespace

uint64_t content_hash(const unsigned char* data, size_t len, uint64_t seed) {
    // FNV-1a: enough to tell the original moov from anything a cut write
    // or a half-restored region could leave.
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
    w.u64(kMagic);
    w.u64(j.self_offset);
    w.u32(static_cast<uint32_t>(j.op));
    w.u64(j.orig_size);
    w.u64(j.moov_offset);
    w.u64(j.moov_length);
    w.u64(j.copy_offset);
    w.u64(j.moov_hash);
    w.u32(0);
    w.u64(content_hash(b.data(), b.size()));
    return b;
}

JournalState find_journal(const std::vector<unsigned char>& tail, uint64_t file_size, Journal& out) {
    // A write cut short leaves a prefix of the journal at the end; try each
    // length from whole down to the part that names the operation.
    for (uint64_t len = kJournalSize; len >= kJournalPrefixNeeded; --len) {
        if (len > tail.size() || len > file_size) continue;
        const unsigned char* p = tail.data() + tail.size() - len;
        BeReader r(p, static_cast<size_t>(len));
        const uint64_t start = file_size - len;
        if (r.u32() != kJournalSize || r.u32() != fourcc("MFJR") || r.u64() != kMagic || r.u64() != start) continue;
        Journal j;
        const uint32_t op = r.u32();
        if (op != static_cast<uint32_t>(JournalOp::convert) && op != static_cast<uint32_t>(JournalOp::undo)) continue;
        j.op = static_cast<JournalOp>(op);
        j.self_offset = start;
        j.orig_size = r.u64();
        if (j.orig_size > start) continue;
        if (len == kJournalSize && be::read_u64(p + kHashedLength) == content_hash(p, kHashedLength)) {
            j.moov_offset = r.u64();
            j.moov_length = r.u64();
            j.copy_offset = r.u64();
            j.moov_hash = r.u64();
            out = j;
            return JournalState::complete;
        }
        out = j;
        return JournalState::partial;
    }
    return JournalState::none;
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
