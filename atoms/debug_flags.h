// Debug switches of the command line that change how atoms are written.
// Set once by the driver before anything is serialised.
#pragma once

extern bool dbg_force_mvhd_v1;
extern bool dbg_force_tkhd_v1;
extern bool dbg_force_mdhd_v1;
extern bool dbg_force_co64;
