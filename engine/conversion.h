// The forward conversion, decided before any write: one walk over the file's
// top-level atoms (the scan, the moov, every fragment merged as it is met),
// every check, the new movie atom, the relocation and the journal. The
// driver carries out the writes it lists, in the order that keeps the file
// recoverable.
#pragma once

#include <cstdint>
#include <vector>

#include "atoms/write_options.h"
#include "atomstack/file_reader.h"
#include "engine/journal.h"
#include "engine/recovery.h"
#include "engine/relocation.h"
#include "engine/scan.h"
#include "fragments/merger.h"
#include "movie/moov.h"

struct ConversionInput {
    uint64_t file_size;  // S, the size at start-up
    bool force_mdat64;
    bool debug_move_moov;  // relocate only: no new movie atom
    WriteOptions write;
    const FileTail* tail = nullptr;  // the file's last bytes, when read already
    // Fragments an index names are read ahead, many at once; the plan is the
    // same without.
    bool read_ahead = true;
};

struct ConversionPlan {
    ScanResult scan;
    Outcome refusal;  // ok: carry out the writes below
    std::vector<unsigned char> moov_payload;  // the original moov's payload
    std::vector<unsigned char> original_moov; // the same with its header
    std::vector<unsigned char> new_moov;      // empty in the debug mode
    MergeReport merged;
    uint64_t undescribed = 0;  // samples the moov's tables do not all describe
    uint64_t fragments = 0;    // moof atoms met
    uint64_t read_ahead = 0;   // positions an index named, read ahead
    RelocationPlan relocation;
    uint64_t new_moov_at = 0;  // right after the appended copy
    Journal journal;           // at the end of the converted file
};

// movie: the tree to fill with the new movie (the driver's).
ConversionPlan plan_conversion(const FileReader& file, qt_moov_info& movie, const ConversionInput& in);
