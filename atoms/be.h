// Big-endian reading and writing: the one place in the program where bytes
// become numbers and numbers become bytes.
//
// BeReader walks a (pointer, bytes left) span. A read past the end sets a
// sticky failure flag and yields 0; callers check ok() once after a group of
// reads, or test remaining() before reading a counted table.
// BeWriter appends to a byte vector; atoms are begun and ended so that their
// size field is computed from what was appended, never stored by hand. A
// count or an atom size that does not fit its 32-bit field marks the writer
// (sticky, like the reader's failure); the caller checks once at the end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace be {

uint16_t read_u16(const unsigned char* p);
uint32_t read_u32(const unsigned char* p);
uint64_t read_u64(const unsigned char* p);
void put_u16(unsigned char* p, uint16_t v);
void put_u32(unsigned char* p, uint32_t v);
void put_u64(unsigned char* p, uint64_t v);

}  // namespace be

class BeReader {
public:
    BeReader(const unsigned char* data, size_t len) : p_(data), left_(len) {}

    uint8_t u8();
    uint16_t u16();
    uint32_t u24();  // a full atom's flags
    uint32_t u32();
    uint64_t u64();
    int32_t s32() { return static_cast<int32_t>(u32()); }
    // Returns a pointer to the next n bytes and moves past them, or null.
    const unsigned char* bytes(size_t n);
    void skip(size_t n) { (void)bytes(n); }
    // Marks the reader failed, as a read past the end would: for content that
    // reads fine but is refused.
    void fail() { ok_ = false; }

    size_t remaining() const { return left_; }
    bool ok() const { return ok_; }
    const unsigned char* here() const { return p_; }

private:
    bool take(size_t n);
    const unsigned char* p_;
    size_t left_;
    bool ok_ = true;
};

class BeWriter {
public:
    explicit BeWriter(std::vector<unsigned char>& out) : out_(out) {}

    void u8(uint8_t v) { out_.push_back(v); }
    void u16(uint16_t v);
    void u32(uint32_t v);
    void u64(uint64_t v);
    void bytes(const unsigned char* p, size_t n);
    void bytes(const std::vector<unsigned char>& v) { bytes(v.data(), v.size()); }
    // Version byte and 24 flag bits of a full atom.
    void version_flags(uint8_t version, uint32_t flags);
    // An entry count or a sample number in a 32-bit field; one that does not
    // fit is written as 0xFFFFFFFF and marks the writer.
    void count32(uint64_t v);

    // Appends a header with a size placeholder; end_atom fills the size in.
    size_t begin_atom(uint32_t type);
    void end_atom(size_t start);
    void patch_u32(size_t at, uint32_t v);

    size_t size() const { return out_.size(); }

    bool count_overflowed() const { return count_overflow_; }
    // An atom ended more than 2^32 - 1 bytes after its start.
    bool size_overflowed() const { return size_overflow_; }

private:
    std::vector<unsigned char>& out_;
    bool count_overflow_ = false;
    bool size_overflow_ = false;
};
