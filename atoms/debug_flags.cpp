#include "atoms/debug_flags.h"

bool dbg_force_mvhd_v1 = false;
bool dbg_force_tkhd_v1 = false;
bool dbg_force_mdhd_v1 = false;
bool dbg_force_co64 = false;
