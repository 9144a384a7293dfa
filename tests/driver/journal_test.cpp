// The journal must be found whole, found as a prefix when its write was cut
// short (so the appended bytes can be taken away), and never found in bytes
// that are not one.
#include <gtest/gtest.h>

#include "engine/journal.h"

namespace {

Journal sample_journal() {
    Journal j;
    j.op = JournalOp::undo;
    j.self_offset = 5000;
    j.orig_size = 3000;
    j.moov_offset = 32;
    j.moov_length = 1200;
    j.copy_offset = 3016;
    j.moov_hash = 0x0123456789ABCDEFull;
    return j;
}

// The file's last bytes when it ends `kept` bytes into the journal.
std::vector<unsigned char> tail_of(const std::vector<unsigned char>& journal, size_t kept) {
    std::vector<unsigned char> tail(100, 0x5A);  // bytes of the file before the journal
    tail.insert(tail.end(), journal.begin(), journal.begin() + static_cast<long>(kept));
    return std::vector<unsigned char>(tail.end() - static_cast<long>(std::min<size_t>(tail.size(), kJournalSize)),
                                      tail.end());
}

TEST(Journal, CompleteJournalGivesEveryField) {
    const Journal j = sample_journal();
    const auto bytes = encode_journal(j);
    ASSERT_EQ(bytes.size(), kJournalSize);
    Journal found;
    ASSERT_EQ(find_journal(tail_of(bytes, bytes.size()), j.self_offset + kJournalSize, found),
              JournalState::complete);
    EXPECT_EQ(found.op, j.op);
    EXPECT_EQ(found.self_offset, j.self_offset);
    EXPECT_EQ(found.orig_size, j.orig_size);
    EXPECT_EQ(found.moov_offset, j.moov_offset);
    EXPECT_EQ(found.moov_length, j.moov_length);
    EXPECT_EQ(found.copy_offset, j.copy_offset);
    EXPECT_EQ(found.moov_hash, j.moov_hash);
}

TEST(Journal, EveryCutLongEnoughToNameTheJobIsFoundAsPartial) {
    const Journal j = sample_journal();
    const auto bytes = encode_journal(j);
    for (size_t kept = 0; kept < kJournalSize; ++kept) {
        SCOPED_TRACE(kept);
        Journal found;
        const JournalState state = find_journal(tail_of(bytes, kept), j.self_offset + kept, found);
        if (kept < kJournalPrefixNeeded) {
            EXPECT_EQ(state, JournalState::none);
            continue;
        }
        ASSERT_EQ(state, JournalState::partial);
        EXPECT_EQ(found.op, j.op);
        EXPECT_EQ(found.self_offset, j.self_offset);
        EXPECT_EQ(found.orig_size, j.orig_size);
    }
}

TEST(Journal, LookalikesAreNotTaken) {
    const Journal j = sample_journal();
    struct Row {
        const char* what;
        size_t at;            // byte to change, or kJournalSize for none
        uint64_t file_size;   // where the file is said to end
        JournalState expected;
    } rows[] = {
        {"a file that does not end where the journal says it starts", kJournalSize, j.self_offset + kJournalSize + 1,
         JournalState::none},
        {"a damaged magic", 9, j.self_offset + kJournalSize, JournalState::none},
        {"an unknown operation", 27, j.self_offset + kJournalSize, JournalState::none},
        {"a damaged field past the job's name: taken as cut short", 50, j.self_offset + kJournalSize,
         JournalState::partial},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        auto bytes = encode_journal(j);
        if (row.at < bytes.size()) bytes[row.at] ^= 0x40;
        Journal found;
        EXPECT_EQ(find_journal(tail_of(bytes, bytes.size()), row.file_size, found), row.expected);
    }
}

TEST(Journal, OriginalSizeBeyondTheJournalIsNotTaken) {
    Journal j = sample_journal();
    j.orig_size = j.self_offset + 1;
    const auto bytes = encode_journal(j);
    Journal found;
    EXPECT_EQ(find_journal(tail_of(bytes, bytes.size()), j.self_offset + kJournalSize, found), JournalState::none);
}

}  // namespace
