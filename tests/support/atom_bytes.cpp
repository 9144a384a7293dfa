#include "tests/support/atom_bytes.h"

#include <cctype>
#include <stdexcept>

namespace atom_bytes {

Bytes hex(const std::string& text) {
    Bytes out;
    std::string pair;
    for (const char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) throw std::invalid_argument(std::string("not a hex digit: ") + c);
        pair += c;
        if (pair.size() == 2) out.push_back(static_cast<unsigned char>(std::stoul(pair, nullptr, 16))), pair.clear();
    }
    if (!pair.empty()) throw std::invalid_argument("odd number of hex digits");
    return out;
}

std::string to_hex(const Bytes& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < bytes.size(); ++i)
        out += std::string(i == 0 ? "" : i % 32 == 0 ? "\n" : i % 4 == 0 ? " " : "") + kDigits[bytes[i] / 16] + kDigits[bytes[i] % 16];
    return out;
}

}  // namespace atom_bytes
