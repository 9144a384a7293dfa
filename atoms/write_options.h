// How the new movie atom is written where more than one form is valid: the
// debug switches of the command line force the wide forms (64-bit header
// fields, 64-bit chunk offsets) that real files only need when values grow.
#pragma once

struct WriteOptions {
    bool force_mvhd_v1 = false;
    bool force_tkhd_v1 = false;
    bool force_mdhd_v1 = false;
    bool force_co64 = false;
};
