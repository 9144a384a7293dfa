#include "tests/support/atom_bytes.h"

#include <cctype>
#include <stdexcept>

namespace atom_bytes {

Bytes hex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
        else if (!std::isspace(static_cast<unsigned char>(c)))
            throw std::invalid_argument(std::string("not a hex digit: ") + c);
    }
    if (digits.size() % 2 != 0) throw std::invalid_argument("odd number of hex digits");
    Bytes out;
    for (size_t i = 0; i < digits.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

std::string to_hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0 && i % 32 == 0) out += '\n';
        else if (i != 0 && i % 4 == 0) out += ' ';
        out += kDigits[bytes[i] / 16];
        out += kDigits[bytes[i] % 16];
    }
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes words(std::initializer_list<uint32_t> values) {
    Bytes out;
    for (uint32_t v : values) BeWriter(out).u32(v);
    return out;
}

Bytes u64(uint64_t value) {
    Bytes out;
    BeWriter(out).u64(value);
    return out;
}

Bytes atom(const char (&type)[5], const Bytes& body) {
    return cat({words({static_cast<uint32_t>(8 + body.size())}), Bytes(type, type + 4), body});
}

Bytes full_atom(const char (&type)[5], uint8_t version, uint32_t flags, const Bytes& rest) {
    return atom(type, cat({words({uint32_t{version} << 24 | (flags & 0xFFFFFF)}), rest}));
}

}  // namespace atom_bytes
