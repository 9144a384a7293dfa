// trik, the trick play box: one byte per sample (tables/sample_bytes.h).
#pragma once

#include "atoms/fourcc.h"
#include "tables/sample_bytes.h"

using qt_trik_info = SampleByteTable<fourcc("trik")>;
