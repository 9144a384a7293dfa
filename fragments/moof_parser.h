// Parsing of a movie fragment's body into moof_info_t. Forgiving and silent:
// a box that is empty, of an unknown version or too short for its fixed part
// is skipped; one whose optional part ends early yields what came before the
// gap; a child whose size is below 8 or runs past its parent ends the walk.
#pragma once

#include <cstddef>

#include "fragments/moof_records.h"

// `data` is the body of a moof atom. Appends one record per traf to
// info.trafs and takes the sequence number from mfhd.
void parse_moof_atom(moof_info_t& info, const unsigned char* data, size_t len);
