#include "atoms/be.h"

#include <cassert>
#include <cstring>

namespace be {

uint16_t read_u16(const unsigned char* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t read_u32(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

uint64_t read_u64(const unsigned char* p) {
    return (uint64_t{read_u32(p)} << 32) | read_u32(p + 4);
}

void put_u16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

void put_u32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

void put_u64(unsigned char* p, uint64_t v) {
    put_u32(p, static_cast<uint32_t>(v >> 32));
    put_u32(p + 4, static_cast<uint32_t>(v));
}

}  // namespace be

bool BeReader::take(size_t n) {
    if (!ok_ || left_ < n) {
        ok_ = false;
        return false;
    }
    return true;
}

uint8_t BeReader::u8() {
    if (!take(1)) return 0;
    uint8_t v = p_[0];
    p_ += 1;
    left_ -= 1;
    return v;
}

uint16_t BeReader::u16() {
    if (!take(2)) return 0;
    uint16_t v = be::read_u16(p_);
    p_ += 2;
    left_ -= 2;
    return v;
}

uint32_t BeReader::u24() {
    if (!take(3)) return 0;
    uint32_t v = (uint32_t{be::read_u16(p_)} << 8) | p_[2];
    p_ += 3;
    left_ -= 3;
    return v;
}

uint32_t BeReader::u32() {
    if (!take(4)) return 0;
    uint32_t v = be::read_u32(p_);
    p_ += 4;
    left_ -= 4;
    return v;
}

uint64_t BeReader::u64() {
    if (!take(8)) return 0;
    uint64_t v = be::read_u64(p_);
    p_ += 8;
    left_ -= 8;
    return v;
}

const unsigned char* BeReader::bytes(size_t n) {
    if (!take(n)) return nullptr;
    const unsigned char* at = p_;
    p_ += n;
    left_ -= n;
    return at;
}

void BeWriter::u16(uint16_t v) {
    unsigned char b[2];
    be::put_u16(b, v);
    out_.insert(out_.end(), b, b + 2);
}

void BeWriter::u32(uint32_t v) {
    unsigned char b[4];
    be::put_u32(b, v);
    out_.insert(out_.end(), b, b + 4);
}

void BeWriter::u64(uint64_t v) {
    unsigned char b[8];
    be::put_u64(b, v);
    out_.insert(out_.end(), b, b + 8);
}

void BeWriter::bytes(const unsigned char* p, size_t n) {
    if (n != 0) out_.insert(out_.end(), p, p + n);
}

void BeWriter::version_flags(uint8_t version, uint32_t flags) {
    u32((uint32_t{version} << 24) | (flags & 0xFFFFFFu));
}

size_t BeWriter::begin_atom(uint32_t type) {
    size_t start = out_.size();
    u32(0);
    u32(type);
    return start;
}

void BeWriter::count32(uint64_t v) {
    if (v > UINT32_MAX) {
        count_overflow_ = true;
        v = UINT32_MAX;
    }
    u32(static_cast<uint32_t>(v));
}

void BeWriter::end_atom(size_t start) {
    assert(start + 8 <= out_.size());
    // Only the 32-bit size form exists inside the movie atom.
    const uint64_t size = out_.size() - start;
    if (size > UINT32_MAX) size_overflow_ = true;
    patch_u32(start, static_cast<uint32_t>(size));
}

void BeWriter::patch_u32(size_t at, uint32_t v) {
    assert(at + 4 <= out_.size());
    be::put_u32(out_.data() + at, v);
}
