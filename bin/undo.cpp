#include "bin/undo.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cassert>

#include "atoms/be.h"
#include "atoms/file_io.h"
#include "atoms/fourcc.h"
#include "bin/driver_state.h"
#include "bin/file_sync.h"
#include "bin/journal.h"
#include "bin/messages.h"
#include "bin/relocation_plan.h"

namespace {

struct UndoRecord {
    uint64_t orig_size = 0;       // OFSZ
    uint64_t orig_mdat = 0;       // OMDT
    uint64_t orig_moov = 0;       // OMOV, first value
    uint64_t saved_moov_at = 0;   // OMOV, second value
};

using ull = unsigned long long;

constexpr uint64_t kMaxSavedMoov = 16777216;

// Reads the children of `parent` until the end or a failed read.
template <typename Visit>
void for_each_child(const quicktime_atom& parent, Visit&& visit) {
    quicktime_stack_empty(mp4_qt);
    quicktime_stack_push(mp4_qt, &parent);
    while (!quicktime_stack_eof(mp4_qt)) {
        quicktime_atom child;
        if (!quicktime_stack_read_atom(mp4_qt, quicktime_stack_top(mp4_qt), &child)) break;
        if (!visit(child)) break;
    }
}

// Reads up to n bytes at a file offset through the root record.
long read_at(uint64_t offset, unsigned char* buf, long n) {
    quicktime_stack_empty(mp4_qt);
    quicktime_atom* root = quicktime_stack_top(mp4_qt);
    quicktime_stack_seek(mp4_qt, root, static_cast<long>(offset));
    return quicktime_stack_read(mp4_qt, root, buf, n);
}

// An atom header of the given type at the offset: a 32-bit size of at least
// 8, size 0 (to the end of the file), or size 1 with a 64-bit size of at
// least 16.
bool header_intact_at(uint64_t offset, uint32_t type, bool allow_open_forms) {
    unsigned char h[16];
    long got = read_at(offset, h, 16);
    if (got < 8 || be::read_u32(h + 4) != type) return false;
    uint32_t size = be::read_u32(h);
    if (!allow_open_forms) return size > 8;
    if (size == 1) return got == 16 && be::read_u64(h + 8) >= 16;
    return size == 0 || size >= 8;
}

}  // namespace

int run_undo() {
    quicktime_atom tolv, mdat, moov;
    quicktime_stack_empty(mp4_qt);
    quicktime_stack_seek(mp4_qt, quicktime_stack_top(mp4_qt), 0);
    while (!quicktime_stack_eof(mp4_qt)) {
        quicktime_atom a;
        if (!quicktime_stack_read_atom(mp4_qt, quicktime_stack_top(mp4_qt), &a)) break;
        if (a.type == fourcc("TOLV") && !atom_found(tolv)) tolv = a;
        else if (a.type == fourcc("mdat") && !atom_found(mdat)) mdat = a;
        else if (a.type == fourcc("moov") && !atom_found(moov)) moov = a;
    }
    if (!atom_found(tolv) || !atom_found(mdat) || !atom_found(moov)) {
        say("Not enough information to undo\n");
        return 1;
    }

    quicktime_atom orig;
    for_each_child(tolv, [&](const quicktime_atom& c) {
        if (c.type != fourcc("ORIG")) return true;
        orig = c;
        return false;
    });
    if (!atom_found(orig)) {
        say("TOLV+ORIG atom not found\n");
        return 1;
    }
    UndoRecord rec;
    for_each_child(orig, [&](quicktime_atom c) {
        unsigned char v[16];
        if (c.type == fourcc("OFSZ") && quicktime_stack_read(mp4_qt, &c, v, 8) == 8) {
            rec.orig_size = be::read_u64(v);
        } else if (c.type == fourcc("OMDT") && quicktime_stack_read(mp4_qt, &c, v, 8) == 8) {
            rec.orig_mdat = be::read_u64(v);
        } else if (c.type == fourcc("OMOV") && quicktime_stack_read(mp4_qt, &c, v, 16) == 16) {
            rec.orig_moov = be::read_u64(v);
            rec.saved_moov_at = be::read_u64(v + 8);
        }
        return true;
    });
    if (rec.orig_size == 0 || rec.orig_mdat == 0 || rec.orig_moov == 0 || rec.saved_moov_at == 0) {
        say("Insufficient information to restore file\n");
        return 1;
    }

    // The file must still have the layout the conversion left: the record
    // where the moov stood, the new mdat right after it covering the original
    // content, the saved moov beyond the original end.
    if (rec.orig_moov != tolv.start_offset) {
        say("OMOV offset value %llu != TOLV offset %llu\n", ull(rec.orig_moov), ull(tolv.start_offset));
        return 1;
    }
    if (rec.orig_mdat < mdat.absolute_data_offset || rec.orig_mdat >= rec.orig_size) {
        say("OMDT offset value %llu != mdat data area offset %llu\n", ull(rec.orig_mdat),
            ull(mdat.absolute_data_offset));
        return 1;
    }
    const uint64_t mdat_end = mdat.absolute_data_offset + mdat.data_length;
    if (mdat_end > rec.orig_size) {
        say("mdat atom extends past original file size\n");
        return 1;
    }
    if (mdat_end > rec.saved_moov_at || rec.saved_moov_at < rec.orig_size) {
        say("relocated moov atom should have been placed beyond original file size\n");
        return 1;
    }
    if (tolv.absolute_data_offset + tolv.data_length != mdat.start_offset) {
        say("'mdat' must immediately 'TOLV'\n");
        return 1;
    }
    if (!header_intact_at(rec.orig_mdat, fourcc("mdat"), true)) {
        say("OMDT offset does not point at original mdat atom\n");
        return 1;
    }
    if (!header_intact_at(rec.saved_moov_at, fourcc("moov"), false)) {
        say("OMOV offset does not point at original moov atom\n");
        return 1;
    }
    quicktime_atom orig_moov;
    quicktime_stack_empty(mp4_qt);
    quicktime_atom* root = quicktime_stack_top(mp4_qt);
    quicktime_stack_seek(mp4_qt, root, static_cast<long>(rec.saved_moov_at));
    // A conversion never saves more than 16 MiB of moov payload.
    if (!quicktime_stack_read_atom(mp4_qt, root, &orig_moov) || orig_moov.type != fourcc("moov") ||
        orig_moov.data_length > kMaxSavedMoov) {
        say("Cannot read original moov atom\n");
        return 1;
    }
    mp4_saved_moov_data.resize(orig_moov.data_length);
    quicktime_stack_seek(mp4_qt, &orig_moov, 0);
    long got = quicktime_stack_read(mp4_qt, &orig_moov, mp4_saved_moov_data.data(),
                                    static_cast<long>(orig_moov.data_length));
    if (got < 0 || static_cast<uint64_t>(got) != orig_moov.data_length) {
        say("Cannot read original moov atom\n");
        return 1;
    }
    if (mdat.absolute_data_offset != tolv.absolute_data_offset + orig_moov.data_length) {
        say("'TOLV' atom (if replaced by original moov atom) does not fit right up to 'mdat' atom\n");
        return 1;
    }

    assert(mp4_saved_moov_data.size() == orig_moov.data_length);
    const std::vector<unsigned char> restored = moov_atom_bytes(mp4_saved_moov_data);

    const int claimed = claim_writes(static_cast<uint64_t>(mp4_orig_len));
    if (claimed >= 0) return claimed;
    // The journal goes first and is made durable, so that a run killed while
    // the moov is being written back can finish the restoration.
    struct stat st;
    if (fstat(mp4_fd, &st) != 0) {
        say("Unable to restore moov atom header\n");
        return 1;
    }
    Journal j;
    j.op = JournalOp::undo;
    j.self_offset = static_cast<uint64_t>(st.st_size);
    j.orig_size = rec.orig_size;
    j.moov_offset = rec.orig_moov;
    j.moov_length = restored.size();
    j.copy_offset = rec.saved_moov_at;
    j.moov_hash = content_hash(restored.data(), restored.size());
    // On a failure before the moov is written back, the journal alone is
    // taken away again; after it, the next run finishes the restoration.
    if (!write_buffer_at(mp4_fd, st.st_size, encode_journal(j))) {
        say("Unable to restore moov atom header\n");
        if (ftruncate(mp4_fd, st.st_size) == 0) sync_file(mp4_fd);
        return 1;
    }
    if (!sync_file(mp4_fd)) {
        say("Failed to sync file\n");
        return 1;
    }
    if (!write_buffer_at(mp4_fd, static_cast<off_t>(rec.orig_moov), restored)) {
        say("Unable to restore moov atom header\n");
        return 1;
    }
    if (!sync_file(mp4_fd)) {
        say("Failed to sync file\n");
        return 1;
    }
    if (ftruncate(mp4_fd, static_cast<off_t>(rec.orig_size)) != 0) {
        say("File size truncate failed\n");
        return 1;
    }
    // Restored. Should the truncation not survive a crash, the next run
    // finds the journal and truncates again.
    sync_file(mp4_fd);
    return 0;
}
