// The optional kind of sample auxiliary information that saiz and saio
// share: with flag bit 0 set, both boxes open with u32 aux_info_type and u32
// aux_info_type_parameter; without it the kind is implied (for Common
// Encryption, the scheme of the protected sample entry). A saiz and a saio of
// one kind describe the same information.
#pragma once

#include <cstdint>

#include "atoms/be.h"

struct AuxInfoType {
    bool present = false;
    uint32_t type = 0, parameter = 0;

    bool operator==(const AuxInfoType& o) const {
        return present == o.present && (!present || (type == o.type && parameter == o.parameter));
    }

    static constexpr uint32_t kFlag = 0x000001;

    // After the version byte and `flags` have been read.
    void read(BeReader& r, uint32_t flags) {
        present = (flags & kFlag) != 0;
        if (present) {
            type = r.u32();
            parameter = r.u32();
        }
    }
    uint32_t flags() const { return present ? kFlag : 0; }
    void write(BeWriter& w) const {
        if (!present) return;
        w.u32(type);
        w.u32(parameter);
    }
};
