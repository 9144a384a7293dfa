// Flag bits of the track fragment header (tfhd) and the track run (trun), as
// ISO/IEC 14496-12 names them. Both boxes carry them in the 24 flag bits of
// their full-box prefix.
#pragma once

#include <cstdint>

// The 24 flag bits of a full box, read together with its version byte.
constexpr uint32_t kFullBoxFlagsMask = 0x00FFFFFF;

namespace tfhd_flags {
constexpr uint32_t kBaseDataOffsetPresent = 0x000001;
constexpr uint32_t kSampleDescriptionIndexPresent = 0x000002;
constexpr uint32_t kDefaultSampleDurationPresent = 0x000008;
constexpr uint32_t kDefaultSampleSizePresent = 0x000010;
constexpr uint32_t kDefaultSampleFlagsPresent = 0x000020;
constexpr uint32_t kDurationIsEmpty = 0x010000;
constexpr uint32_t kDefaultBaseIsMoof = 0x020000;
}  // namespace tfhd_flags

namespace trun_flags {
constexpr uint32_t kDataOffsetPresent = 0x000001;
constexpr uint32_t kFirstSampleFlagsPresent = 0x000004;
constexpr uint32_t kSampleDurationPresent = 0x000100;
constexpr uint32_t kSampleSizePresent = 0x000200;
constexpr uint32_t kSampleFlagsPresent = 0x000400;
constexpr uint32_t kSampleCompositionTimeOffsetsPresent = 0x000800;

constexpr uint32_t kAnyPerSampleField = kSampleDurationPresent | kSampleSizePresent |
                                        kSampleFlagsPresent |
                                        kSampleCompositionTimeOffsetsPresent;
}  // namespace trun_flags
