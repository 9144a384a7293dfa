// The way back. The undo's checks of its record against the file: each
// damage to a converted image, in both header forms and both layouts, is
// refused with the message and values of the check that catches it. The
// journal in golden bytes; the recovery planned from every file an
// interrupted run leaves, its journal whole, cut short or damaged.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "engine/conversion.h"
#include "engine/recovery.h"
#include "engine/undo_plan.h"
#include "tests/engine/image.h"
#include "tests/support/tool_runner.h"

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
    {"no mdat", [](auto& b, auto& c) { type(b, c.P + 4); return R{Msg::not_enough_info_to_undo}; }},
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
                const UndoPlan plan = plan_undo(FileReader(damaged));
                EXPECT_EQ(std::tie(plan.refusal.msg, plan.refusal.a, plan.refusal.b),
                          std::tie(expected.msg, expected.a, expected.b));
            }
            const UndoPlan plan = plan_undo(FileReader(c.bytes));
            EXPECT_TRUE(plan.refusal.ok());
            EXPECT_EQ(std::tie(plan.moov_offset, plan.copy_offset, plan.orig_size), std::tie(c.M, c.copy, c.S));
            EXPECT_EQ(plan.restored_moov, c.moov);
        }
    }
}

const Journal kJournal{JournalOp::undo, 5000, 3000, 32, 1200, 3016, 0x0123456789ABCDEF};
const Bytes kGolden = hex(
    "00000050 4D464A52 00000000 00001388"  // size 80, 'MFJR', its own offset 5000
    "00000002 00000000 00000BB8"           // operation undo, original size 3000
    "BCD99FAE D1891094"                    // FNV-1a of the 28 bytes before
    "00000000 00000020 00000000 000004B0"  // the original moov at 32, 1200 bytes
    "00000000 00000BC8"                    // its copy at 3016
    "01234567 89ABCDEF 00000000"           // the moov's hash, zero
    "2927CD2F EED01BAF");                  // FNV-1a of the 72 bytes before

TEST(Journal, GoldenBytes) {
    ASSERT_EQ(to_hex(encode_journal(kJournal)), to_hex(kGolden));
    const FoundJournal f = find_journal(kGolden.data(), kGolden.size(), 5080);
    ASSERT_EQ(f.state, JournalState::complete);
    EXPECT_EQ(to_hex(encode_journal(f.journal)), to_hex(kGolden));
}

Bytes put(Bytes f, uint64_t at, const Bytes& b) {
    if (f.size() < at + b.size()) f.resize(at + b.size());
    std::copy(b.begin(), b.end(), f.begin() + static_cast<long>(at));
    return f;
}

// The file a recovery leaves, as the driver carries out its plan.
Bytes recovered(Bytes f, const RecoveryPlan& plan) {
    if (plan.restore) f = put(f, plan.restore->at, plan.restore->bytes);
    f.resize(plan.truncate_to);
    return f;
}

// A real recording, converted and undone in memory as the driver writes: the
// file after each sync while a journal exists, and what its run would have
// left.
struct Runs {
    Bytes original, converted;
    std::vector<std::pair<std::string, Bytes>> synced;  // the last 80 bytes: the journal
    uint64_t conversion_journal_at = 0;
};

Runs runs(bool mdat64) {
    Runs r;
    r.original = tool::read_file(tool::test_data_dir() + "/audio_only.mp4");
    qt_moov_info movie;
    const ConversionPlan p = plan_conversion(FileReader(r.original), movie, {r.original.size(), mdat64, false, {}});
    EXPECT_TRUE(p.refusal.ok());
    Bytes f = put(r.original, p.journal.self_offset, encode_journal(p.journal));
    r.conversion_journal_at = p.journal.self_offset;
    r.synced.push_back({"conversion, journal written", f});
    f = put(put(f, p.relocation.appended.at, p.relocation.appended.bytes), p.new_moov_at, p.new_moov);
    r.synced.push_back({"conversion, copy and new moov appended", f});
    for (const PlannedWrite& w : p.relocation.in_place) f = put(f, w.at, w.bytes);
    r.synced.push_back({"conversion, in place", f});
    r.converted.assign(f.begin(), f.end() - kJournalSize);
    const UndoPlan u = plan_undo(FileReader(r.converted));
    EXPECT_TRUE(u.refusal.ok());
    const Journal j = make_journal(JournalOp::undo, r.converted.size(), u.orig_size, u.moov_offset, u.restored_moov,
                                   u.copy_offset);
    f = put(r.converted, r.converted.size(), encode_journal(j));
    r.synced.push_back({"undo, journal written", f});
    r.synced.push_back({"undo, moov written back", put(f, u.moov_offset, u.restored_moov)});
    return r;
}

// Every file a run leaves once its journal is durable, with that journal
// whole, cut short by a write that stopped at each byte, with each bit
// flipped and with zeros from each byte on: the recovery gives the original
// (or, for an undo cut in its journal, the converted file whose undo is
// still to run), or refuses and writes nothing.
TEST(Recovery, NeverActsOnAnUncheckedJournal) {
    for (const bool mdat64 : {false, true}) {
        const Runs r = runs(mdat64);
        for (const auto& [what, synced] : r.synced) {
            SCOPED_TRACE(what + (mdat64 ? ", 16-byte mdat header" : ""));
            const bool undo = what.rfind("undo", 0) == 0;
            const auto outcome = [&](const Bytes& f) {
                const FoundJournal found = find_journal(f.data(), f.size(), f.size());
                const RecoveryPlan plan = plan_recovery(FileReader(f), found);
                if (plan.outcome == Recovery::restored_original) {
                    EXPECT_EQ(recovered(f, plan), r.original);
                } else if (plan.outcome == Recovery::undo_pending) {
                    EXPECT_EQ(recovered(f, plan), r.converted);
                }
                return plan.outcome;
            };
            EXPECT_EQ(outcome(synced), Recovery::restored_original);
            const size_t at = synced.size() - kJournalSize;
            // Cut short: only while the journal itself was being written.
            const bool first = what.find("journal written") != std::string::npos;
            for (size_t kept = 0; first && kept < kJournalSize; ++kept) {
                SCOPED_TRACE("cut after " + std::to_string(kept) + " bytes");
                const Recovery expected = kept < kJournalPrefixNeeded ? Recovery::nothing
                                          : undo                      ? Recovery::undo_pending
                                                                      : Recovery::restored_original;
                EXPECT_EQ(outcome(Bytes(synced.begin(), synced.begin() + static_cast<long>(at + kept))), expected);
            }
            for (size_t byte = 0; byte < kJournalSize; ++byte) {
                SCOPED_TRACE("damage at byte " + std::to_string(byte));
                for (int bit = 0; bit < 8; ++bit) {
                    Bytes f = synced;
                    f[at + byte] ^= static_cast<unsigned char>(1u << bit);
                    EXPECT_EQ(outcome(f), Recovery::failed);
                }
                Bytes f = synced;
                std::fill(f.begin() + static_cast<long>(at + byte), f.end(), 0);
                // Zeros over its size and type leave nothing that says journal.
                EXPECT_EQ(outcome(f), byte < kJournalPrefixNeeded ? Recovery::nothing : Recovery::failed);
            }
        }
    }
}

// A complete journal whose values do not fit the file, and a copy that is no
// longer the original moov: refused, nothing written.
TEST(Recovery, CompleteJournalChecksTheFile) {
    const Runs r = runs(false);
    const Bytes& in_place = r.synced[2].second;
    const auto journal_of = [&](const Bytes& f) { return find_journal(f.data(), f.size(), f.size()).journal; };
    const Journal j = journal_of(in_place);
    const auto with = [&](Journal changed) {
        return put(in_place, in_place.size() - kJournalSize, encode_journal(changed));
    };
    const auto changed = [&](uint64_t Journal::*field, uint64_t v) { Journal k = j; k.*field = v; return with(k); };
    Bytes bad_copy = in_place;
    bad_copy[j.copy_offset + 20] ^= 1;
    const struct { const char* what; Bytes file; } rows[] = {
        {"a damaged copy", bad_copy},
        {"a moov below a header", changed(&Journal::moov_length, 7)},
        {"a moov past the limit", changed(&Journal::moov_length, 16777225)},
        {"a moov past S", changed(&Journal::moov_offset, j.orig_size - j.moov_length + 1)},
        {"S past the journal", changed(&Journal::orig_size, r.conversion_journal_at + 1)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const FoundJournal found = find_journal(row.file.data(), row.file.size(), row.file.size());
        EXPECT_EQ(found.state, JournalState::complete);
        EXPECT_EQ(plan_recovery(FileReader(row.file), found).outcome, Recovery::failed);
    }
}

}  // namespace
