// The 32-bit sample flags word that movie fragments carry (trex, tfhd, trun
// first-sample and per-sample flags), laid out as ISO/IEC 14496-12 defines it:
//
//   bits 26-27  is_leading
//   bits 24-25  sample_depends_on       (1: depends on others, 2: on none)
//   bits 22-23  sample_is_depended_on
//   bits 20-21  sample_has_redundancy
//   bits 17-19  sample_padding_value
//   bit  16     sample_is_non_sync_sample
//   bits  0-15  sample_degradation_priority
//
// Also the one-byte form that sdtp stores per sample (the four two-bit
// fields, is_leading in the top bits).
#pragma once

#include <cstdint>

namespace sample_flags {

constexpr unsigned kIsLeadingShift = 26;
constexpr unsigned kDependsOnShift = 24;
constexpr unsigned kIsDependedOnShift = 22;
constexpr unsigned kHasRedundancyShift = 20;
constexpr unsigned kPaddingValueShift = 17;

constexpr uint32_t kTwoBitField = 0x3;
constexpr uint32_t kPaddingValueField = 0x7;

constexpr uint32_t kIsLeadingMask = kTwoBitField << kIsLeadingShift;
constexpr uint32_t kDependsOnMask = kTwoBitField << kDependsOnShift;
constexpr uint32_t kIsDependedOnMask = kTwoBitField << kIsDependedOnShift;
constexpr uint32_t kHasRedundancyMask = kTwoBitField << kHasRedundancyShift;
constexpr uint32_t kPaddingValueMask = kPaddingValueField << kPaddingValueShift;
constexpr uint32_t kIsNonSyncSample = 0x00010000;
constexpr uint32_t kDegradationPriorityMask = 0x0000FFFF;

// Values of the two-bit dependency fields.
constexpr uint32_t kUnknown = 0;
constexpr uint32_t kYes = 1;
constexpr uint32_t kNo = 2;

// Positions of the same fields in an sdtp byte.
constexpr unsigned kSdtpIsLeadingShift = 6;
constexpr unsigned kSdtpDependsOnShift = 4;
constexpr unsigned kSdtpIsDependedOnShift = 2;
constexpr unsigned kSdtpHasRedundancyShift = 0;

}  // namespace sample_flags

uint32_t sample_is_leading(uint32_t flags);
uint32_t sample_depends_on(uint32_t flags);
uint32_t sample_is_depended_on(uint32_t flags);
uint32_t sample_has_redundancy(uint32_t flags);

// A sample is sync when it is not marked non-sync and does not declare that it
// depends on other samples. "Unknown" dependency counts as sync, since the
// non-sync bit is the primary signal and writers often leave the field 0.
bool is_sync_sample_flags(uint32_t flags);

uint8_t sdtp_byte_from_sample_flags(uint32_t flags);
