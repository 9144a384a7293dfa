// The forward conversion: scan, every check, the new movie atom built in
// memory, then the in-place writes and the new movie atom at the end.
#pragma once

int run_forward_conversion();
