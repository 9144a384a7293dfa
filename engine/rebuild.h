// The new movie atom, built in memory before the first write: the saved moov
// parsed, every moof of the file merged in file order as the walk over the
// file meets it, the durations rewritten and the tree serialised. Nothing
// that can go wrong here touches the file.
#pragma once

#include <cstdint>
#include <vector>

#include "atoms/atom_header.h"
#include "atoms/write_options.h"
#include "engine/outcome.h"
#include "fragments/merger.h"
#include "movie/moov.h"

struct NewMovie {
    Outcome refusal;
    std::vector<unsigned char> atom;  // the whole moov atom
    MergeReport merged;
    // Samples the moov's own tables did not all describe: left out.
    uint64_t undescribed = 0;
};

// The largest moof read and merged; a larger one refuses the file.
constexpr uint64_t kMaxMoofPayload = uint64_t{1} << 30;

class FragmentMerge {
public:
    // movie: the tree to fill; file_size: the original end.
    FragmentMerge(qt_moov_info& movie, uint64_t file_size);

    // Parses the original moov's payload into the tree; merging may begin.
    void start(const std::vector<unsigned char>& moov_payload);
    bool started() const { return started_; }
    // The next moof of the file: its header, and its payload as far as the
    // file holds it. Each is merged once the next one's place is known, so
    // that runs of samples can be bounded by it.
    void add(const AtomHeader& moof, const unsigned char* held, size_t len);
    // A moof whose payload could not be read, or is larger than the limit.
    void unreadable() { unreadable_ = true; }
    // The new movie from everything merged.
    NewMovie finish(const WriteOptions& options);

private:
    void merge_pending();

    qt_moov_info& movie_;
    bool started_ = false, unreadable_ = false, too_large_ = false;
    MergeReport total_;
    std::vector<uint64_t> moof_starts_;
    MergeBounds bounds_;
    AtomHeader pending_;
    std::vector<unsigned char> pending_bytes_;
    bool has_pending_ = false;
};
