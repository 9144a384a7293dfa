#include "tables/sample_flags.h"

using namespace sample_flags;

uint32_t sample_is_leading(uint32_t flags) {
    return (flags & kIsLeadingMask) >> kIsLeadingShift;
}

uint32_t sample_depends_on(uint32_t flags) {
    return (flags & kDependsOnMask) >> kDependsOnShift;
}

uint32_t sample_is_depended_on(uint32_t flags) {
    return (flags & kIsDependedOnMask) >> kIsDependedOnShift;
}

uint32_t sample_has_redundancy(uint32_t flags) {
    return (flags & kHasRedundancyMask) >> kHasRedundancyShift;
}

bool is_sync_sample_flags(uint32_t flags) {
    return (flags & kIsNonSyncSample) == 0 && sample_depends_on(flags) != kYes;
}

uint8_t sdtp_byte_from_sample_flags(uint32_t flags) {
    return static_cast<uint8_t>((sample_is_leading(flags) << kSdtpIsLeadingShift) |
                                (sample_depends_on(flags) << kSdtpDependsOnShift) |
                                (sample_is_depended_on(flags) << kSdtpIsDependedOnShift) |
                                (sample_has_redundancy(flags) << kSdtpHasRedundancyShift));
}
