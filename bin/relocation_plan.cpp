#include "bin/relocation_plan.h"

#include <cassert>

#include "atoms/be.h"
#include "atoms/fourcc.h"

const std::string& vers_string() {
    static const std::string text =
        "Tolvane fragmented MP4 to non-fragmented MP4 converter (morvak_fragflat 1.0)";
    return text;
}

void write_moov_atom(BeWriter& w, const std::vector<unsigned char>& payload) {
    w.u32(static_cast<uint32_t>(payload.size() + 8));
    w.u32(fourcc("moov"));
    w.bytes(payload);
}

std::vector<unsigned char> moov_atom_bytes(const std::vector<unsigned char>& payload) {
    std::vector<unsigned char> b;
    BeWriter w(b);
    write_moov_atom(w, payload);
    return b;
}

uint64_t mdat_header_size(uint64_t file_size, bool force_mdat64) {
    return (file_size >= kMdat64From || force_mdat64) ? 16 : 8;
}

uint64_t undo_record_room() { return vers_string().size() + 76; }

namespace {

PlannedWrite write_at(uint64_t at, std::vector<unsigned char> bytes, const char* message) {
    return PlannedWrite{static_cast<off_t>(at), std::move(bytes), message};
}

}  // namespace

RelocationPlan plan_relocation(const RelocationInput& in) {
    const std::vector<unsigned char>& payload = *in.moov_payload;
    const uint64_t M = in.moov_offset;
    const uint64_t N = payload.size();
    const uint64_t S = in.file_size;
    const uint64_t H = mdat_header_size(S, in.force_mdat64);
    const uint64_t L = vers_string().size();
    assert(N >= H + undo_record_room());

    RelocationPlan plan;
    const uint64_t P = M + 8 + N - H;

    // The new mdat header, over the last H bytes of the old moov.
    {
        std::vector<unsigned char> b;
        BeWriter w(b);
        if (H == 16) {
            w.u32(1);
            w.u32(fourcc("mdat"));
            w.u64(S - P);
        } else {
            w.u32(static_cast<uint32_t>(S - P));
            w.u32(fourcc("mdat"));
        }
        plan.in_place.push_back(write_at(P, std::move(b), "Failed to overwrite mdat\n"));
    }
    // The appended copy of the old moov.
    {
        std::vector<unsigned char> b;
        BeWriter w(b);
        if (!in.debug_move_moov) {
            w.u32(static_cast<uint32_t>(N + 24));
            w.u32(fourcc("TOLV"));
            w.u32(static_cast<uint32_t>(N + 16));
            w.u32(fourcc("ORIG"));
        }
        plan.saved_moov_at = S + b.size();
        write_moov_atom(w, payload);
        plan.append_end = S + b.size();
        plan.appended = write_at(S, std::move(b), "Failed to append saved moov\n");
    }
    // The in-place TOLV header.
    {
        assert(N - H < 0xFFFFFFFFu);
        std::vector<unsigned char> b;
        BeWriter w(b);
        w.u32(static_cast<uint32_t>(N - H + 8));
        w.u32(fourcc("TOLV"));
        plan.in_place.push_back(write_at(M, std::move(b), "Failed to overwrite moov\n"));
    }
    // VERS, the version text without terminator.
    {
        std::vector<unsigned char> b;
        BeWriter w(b);
        w.u32(static_cast<uint32_t>(L + 8));
        w.u32(fourcc("VERS"));
        w.bytes(reinterpret_cast<const unsigned char*>(vers_string().data()), L);
        plan.in_place.push_back(write_at(M + 8, std::move(b), "Failed to write VERS\n"));
    }
    // ORIG with its three values, then the zero that ends the children.
    {
        std::vector<unsigned char> b;
        BeWriter w(b);
        w.u32(64);
        w.u32(fourcc("ORIG"));
        w.u32(16);
        w.u32(fourcc("OFSZ"));
        w.u64(S);
        w.u32(16);
        w.u32(fourcc("OMDT"));
        w.u64(in.first_mdat_offset);
        w.u32(24);
        w.u32(fourcc("OMOV"));
        w.u64(M);
        w.u64(plan.saved_moov_at);
        w.u32(0);
        plan.in_place.push_back(write_at(M + 16 + L, std::move(b), "Failed to write final zero\n"));
    }
    return plan;
}
