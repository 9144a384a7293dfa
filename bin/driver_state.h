// Process-wide state of the driver: the one file, its descriptor, the atom
// stack bound to it (through which the engine reads it), the switches, and
// the movie being built.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "atomstack/quicktime_stack.h"
#include "bin/exclusive_file.h"
#include "movie/moov.h"

extern std::string mp4_file;
extern ExclusiveFile mp4_access;
extern int mp4_fd;
extern quicktime_stack* mp4_qt;
extern bool do_undo;
extern bool dry_run;  // everything checked and built, nothing written
extern bool dbg_force_mvhd_v1, dbg_force_tkhd_v1, dbg_force_mdhd_v1, dbg_force_co64, dbg_force_mdat64;
extern bool debug_move_moov;
extern bool dbg_count_reads;
extern off_t mp4_orig_len;
extern qt_moov_info mp4_moov_info;

// Before a group of writes: -1 when the file is still this run's alone and
// `expected_size` bytes long (mp4_fd is then writable, except in a dry
// run), else the message is printed and the exit status returned.
int claim_writes(uint64_t expected_size);

// Numbers as a dry run's line shows them: 1,234,567.
std::string with_commas(uint64_t n);
