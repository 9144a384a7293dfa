#include "engine/undo_record.h"

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"

namespace {

constexpr uint32_t kOrigSize = 64;
constexpr uint32_t kValueAtomSize = 16;  // OFSZ, OMDT
constexpr uint32_t kOmovSize = 24;
constexpr uint64_t kAppendedHead = 24;

void header(BeWriter& w, uint64_t size, const char (&type)[5]) {
    w.u32(static_cast<uint32_t>(size));
    w.u32(fourcc(type));
}

}  // namespace

const std::string& vers_string() {
    static const std::string text =
        "Tolvane fragmented MP4 to non-fragmented MP4 converter (morvak_fragflat 1.0)";
    return text;
}

// VERS, ORIG and the closing zero.
uint64_t undo_record_room() { return 8 + vers_string().size() + kOrigSize + 4; }

std::vector<unsigned char> tolv_header(uint64_t payload_len) {
    std::vector<unsigned char> b;
    BeWriter w(b);
    header(w, payload_len + 8, "TOLV");
    return b;
}

std::vector<unsigned char> vers_atom() {
    std::vector<unsigned char> b;
    BeWriter w(b);
    header(w, vers_string().size() + 8, "VERS");
    w.bytes(reinterpret_cast<const unsigned char*>(vers_string().data()), vers_string().size());
    return b;
}

std::vector<unsigned char> orig_atom_and_end(const UndoRecord& r) {
    std::vector<unsigned char> b;
    BeWriter w(b);
    header(w, kOrigSize, "ORIG");
    header(w, kValueAtomSize, "OFSZ");
    w.u64(r.orig_size);
    header(w, kValueAtomSize, "OMDT");
    w.u64(r.orig_mdat);
    header(w, kOmovSize, "OMOV");
    w.u64(r.orig_moov);
    w.u64(r.saved_moov_at);
    w.u32(0);
    return b;
}

std::vector<unsigned char> appended_head(uint64_t payload_len, bool bare) {
    std::vector<unsigned char> b;
    BeWriter w(b);
    if (!bare) {
        header(w, payload_len + kAppendedHead, "TOLV");
        header(w, payload_len + 16, "ORIG");
    }
    header(w, payload_len + 8, "moov");
    return b;
}

std::vector<unsigned char> moov_atom_bytes(const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> b = appended_head(payload.size(), true);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

bool decode_undo_record(const unsigned char* tolv_payload, size_t len, UndoRecord& out) {
    const unsigned char* orig = nullptr;
    size_t orig_len = 0;
    walk_children(tolv_payload, len, [&](const ChildAtom& c) {
        if (orig != nullptr || c.type != fourcc("ORIG")) return;
        orig = c.body();
        orig_len = c.body_len();
    });
    if (orig == nullptr) return false;
    walk_children(orig, orig_len, [&](const ChildAtom& c) {
        BeReader r(c.body(), c.body_len());
        if (c.type == fourcc("OFSZ") && r.remaining() >= 8) {
            out.orig_size = r.u64();
        } else if (c.type == fourcc("OMDT") && r.remaining() >= 8) {
            out.orig_mdat = r.u64();
        } else if (c.type == fourcc("OMOV") && r.remaining() >= 16) {
            out.orig_moov = r.u64();
            out.saved_moov_at = r.u64();
        }
    });
    return true;
}
