// The way back. The undo's checks of its record against the file: each
// damage to a converted image, in both header forms and both layouts, is
// refused with the message and values of the check that catches it. The
// journal in golden bytes and as every prefix a cut write leaves of it, and
// the recovery planned from the end of a file.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "engine/recovery.h"
#include "engine/undo_plan.h"
#include "tests/engine/image.h"

namespace {

using atom_bytes::hex;
using atom_bytes::to_hex;
using engine_test::Bytes;
using engine_test::Converted;

void put32(Bytes& b, uint64_t at, uint32_t v) { be::put_u32(b.data() + at, v); }
void put64(Bytes& b, uint64_t at, uint64_t v) { be::put_u64(b.data() + at, v); }
void type(Bytes& b, uint64_t at, const char* t = "free") { put32(b, at, mp4b::fourcc_of(t)); }

// The record's values: OFSZ at O + 16, OMDT at O + 32, OMOV at O + 48 and O + 56. The original mdat at
// 236. "no TOLV" renames the in-place one and what was appended at S (a TOLV, or the bare moov).
using R = Outcome;
// Each damage returns the refusal it is to meet.
const struct { const char* what; std::function<Outcome(Bytes&, const Converted&)> damage; } kDamages[] = {
    {"never converted", [](auto& b, auto& c) { b = c.original; return R{Msg::not_enough_info_to_undo}; }},
    {"no TOLV", [](auto& b, auto& c) { type(b, c.M + 4), type(b, c.S + 4); return R{Msg::not_enough_info_to_undo}; }},
    {"no moov left", [](auto& b, auto& c) { b.resize(c.S); return R{Msg::not_enough_info_to_undo}; }},
    {"no ORIG", [](auto& b, auto& c) { type(b, c.O + 4); return R{Msg::tolv_orig_not_found}; }},
    {"OFSZ 0", [](auto& b, auto& c) { put64(b, c.O + 16, 0); return R{Msg::insufficient_info}; }},
    {"OMDT 0", [](auto& b, auto& c) { put64(b, c.O + 32, 0); return R{Msg::insufficient_info}; }},
    {"OMOV's moov 0", [](auto& b, auto& c) { put64(b, c.O + 48, 0); return R{Msg::insufficient_info}; }},
    {"OMOV's copy 0", [](auto& b, auto& c) { put64(b, c.O + 56, 0); return R{Msg::insufficient_info}; }},
    {"no OMDT", [](auto& b, auto& c) { type(b, c.O + 28); return R{Msg::insufficient_info}; }},
    {"OMOV too short", [](auto& b, auto& c) { put32(b, c.O + 40, 16); return R{Msg::insufficient_info}; }},
    {"OMOV not M", [](auto& b, auto& c) { put64(b, c.O + 48, c.M + 1); return R{Msg::omov_mismatch, c.M + 1, c.M}; }},
    {"OMDT < data", [](auto& b, auto& c) { put64(b, c.O + 32, 235); return R{Msg::omdt_mismatch, 235, c.P + c.H}; }},
    {"OMDT at S", [](auto& b, auto& c) { put64(b, c.O + 32, c.S); return R{Msg::omdt_mismatch, c.S, c.P + c.H}; }},
    {"OFSZ 1 short", [](auto& b, auto& c) { put64(b, c.O + 16, c.S - 1); return R{Msg::mdat_past_original_size}; }},
    {"OFSZ > copy", [](auto& b, auto& c) { put64(b, c.O + 16, c.copy + 1); return R{Msg::copy_not_beyond_original}; }},
    {"copy in mdat", [](auto& b, auto& c) { put64(b, c.O + 56, c.S - 1); return R{Msg::copy_not_beyond_original}; }},
    {"free atom",
     [](auto& b, auto& c) { put32(b, c.M, 200 - c.H), put32(b, c.P - 8, 8); return R{Msg::mdat_not_after_tolv}; }},
    {"old mdat renamed", [](auto& b, auto&) { type(b, 240); return R{Msg::omdt_not_at_mdat}; }},
    {"old mdat size 7", [](auto& b, auto&) { put32(b, 236, 7); return R{Msg::omdt_not_at_mdat}; }},
    {"old mdat size 15", [](auto& b, auto&) { put32(b, 236, 1), put64(b, 244, 15); return R{Msg::omdt_not_at_mdat}; }},
    {"copy size 8", [](auto& b, auto& c) { put32(b, c.copy, 8); return R{Msg::omov_not_at_moov}; }},
    {"copy renamed", [](auto& b, auto& c) { type(b, c.copy + 4); return R{Msg::omov_not_at_moov}; }},
    {"copy past the end", [](auto& b, auto& c) { put32(b, c.copy, 308); return R{Msg::cannot_read_original_moov}; }},
    {"copy shorter", [](auto& b, auto& c) { put32(b, c.copy, 204); return R{Msg::tolv_does_not_fit}; }},
};

TEST(UndoPlan, EveryCheckRefusesItsDamage) {
    for (const bool mdat64 : {false, true}) {
        for (const bool debug : {false, true}) {
            Converted c = engine_test::converted(mdat64, debug);
            c.bytes = atom_bytes::cat({c.bytes, atom_bytes::atom("moov", {})});  // a new movie after the copy
            for (const auto& row : kDamages) {
                SCOPED_TRACE(std::string(row.what) + (mdat64 ? ", 16-byte header" : "") + (debug ? ", debug" : ""));
                Bytes damaged = c.bytes;
                const Outcome expected = row.damage(damaged, c);
                const UndoPlan plan = plan_undo(engine_test::Image(damaged).qt);
                EXPECT_EQ(std::tie(plan.refusal.msg, plan.refusal.a, plan.refusal.b),
                          std::tie(expected.msg, expected.a, expected.b));
            }
            const UndoPlan plan = plan_undo(engine_test::Image(c.bytes).qt);
            EXPECT_TRUE(plan.refusal.ok());
            EXPECT_EQ(std::tie(plan.moov_offset, plan.copy_offset, plan.orig_size), std::tie(c.M, c.copy, c.S));
            EXPECT_EQ(plan.restored_moov, c.moov);
        }
    }
}

const Journal kJournal{JournalOp::undo, 5000, 3000, 32, 1200, 3016, 0x0123456789ABCDEF};
const Bytes kGolden = hex(
    "00000050 4D464A52 6D6F7276 616B4A31"  // size 80, 'MFJR', "morvakJ1"
    "00000000 00001388 00000002"           // its own offset 5000, operation undo
    "00000000 00000BB8"                    // original size 3000
    "00000000 00000020 00000000 000004B0"  // the original moov at 32, 1200 bytes
    "00000000 00000BC8"                    // its copy at 3016
    "01234567 89ABCDEF 00000000"           // the moov's hash, zero
    "E3C1EB9E 2939BA7E");                  // FNV-1a of the 72 bytes before

// What find_journal makes of 5000 bytes, the journal up to `kept`, and extra bytes.
JournalState found(Bytes journal, size_t kept, Journal& out, uint64_t extra = 0) {
    journal.resize(kept);
    journal.insert(journal.begin(), kJournalSize - kept, 0x5A);
    return find_journal(journal, 5000 + kept + extra, out);
}

TEST(Journal, GoldenBytesEveryCutAndLookalikes) {
    ASSERT_EQ(to_hex(encode_journal(kJournal)), to_hex(kGolden));
    for (size_t kept = 0; kept <= kJournalSize; ++kept) {
        SCOPED_TRACE(kept);
        Journal j;
        const long same = kept < 36 ? 0 : kept < 80 ? 36 : 80;  // a cut journal gives its operation, offset and size
        EXPECT_EQ(found(kGolden, kept, j), same == 0 ? JournalState::none : same == 36 ? JournalState::partial
                                                                                       : JournalState::complete);
        const Bytes e = encode_journal(j);
        EXPECT_EQ(Bytes(e.begin(), e.begin() + same), Bytes(kGolden.begin(), kGolden.begin() + same));
    }
    // One byte changed: the operation, the magic, an original size past the
    // journal; past the operation, the journal counts as cut short.
    const struct { size_t at; unsigned char flip; JournalState state; } rows[] = {
        {27, 0x40, JournalState::none}, {9, 0x40, JournalState::none}, {34, 0x30, JournalState::none},
        {50, 0x40, JournalState::partial}, {79, 0x40, JournalState::partial}};
    for (const auto& row : rows) {
        Bytes b = kGolden;
        b[row.at] ^= row.flip;
        Journal j;
        EXPECT_EQ(found(b, kJournalSize, j), row.state) << row.at;
    }
    Journal j;
    EXPECT_EQ(found(kGolden, kJournalSize, j, 1), JournalState::none) << "not at the end of the file";
}

TEST(Recovery, PlanFromTheEndOfTheFile) {
    const Converted c = engine_test::converted(false, false);
    const Journal convert = make_journal(JournalOp::convert, 0, c.S, c.M, c.moov, c.copy);
    const auto with = [](Bytes b, Journal j, size_t kept = kJournalSize) {
        j.self_offset = b.size();
        const Bytes journal = encode_journal(j);
        b.insert(b.end(), journal.begin(), journal.begin() + static_cast<long>(kept));
        return b;
    };
    const auto changed = [&](uint64_t Journal::*field, uint64_t v) { Journal j = convert; j.*field = v; return j; };
    Journal undo = convert;
    undo.op = JournalOp::undo;
    Bytes bad_copy = c.bytes;
    bad_copy[c.copy + 20] ^= 1;
    // Appended and durable, the original region not yet written.
    const Bytes appended = atom_bytes::cat({c.original, Bytes(c.bytes.begin() + 400, c.bytes.end())});
    const struct { const char* what; Bytes file; Recovery outcome; bool restore; uint64_t truncate_to; } rows[] = {
        {"no journal", c.bytes, Recovery::nothing, false, 0},
        {"conversion cut in its journal", with(c.bytes, convert, 36), Recovery::restored_original, false, 400},
        {"undo cut in its journal", with(c.bytes, undo, 40), Recovery::undo_pending, false, c.bytes.size()},
        {"conversion before the in-place writes", with(appended, convert), Recovery::restored_original, false, 400},
        {"conversion after them", with(c.bytes, convert), Recovery::restored_original, true, 400},
        {"a damaged copy", with(bad_copy, convert), Recovery::failed, false, 0},
        {"a moov below a header", with(c.bytes, changed(&Journal::moov_length, 7)), Recovery::failed, false, 0},
        {"a moov past the limit", with(c.bytes, changed(&Journal::moov_length, 16777225)), Recovery::failed, false, 0},
        {"a moov past S", with(c.bytes, changed(&Journal::moov_offset, 193)), Recovery::failed, false, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const engine_test::Image image(row.file);
        const RecoveryPlan plan = plan_recovery(image.fd, find_interrupted_run(image.fd));
        EXPECT_EQ(plan.outcome, row.outcome);
        EXPECT_EQ(plan.truncate_to, row.truncate_to);
        ASSERT_EQ(plan.restore.has_value(), row.restore);
        if (row.restore) {
            EXPECT_TRUE(plan.restore->at == c.M && plan.restore->bytes == c.moov);
        }
    }
}

}  // namespace
