// senc, Common Encryption's sample encryption box, here inside a track's
// stbl: every sample's IV and, with flag 0x2, its sub-sample map
// ({u16 clear bytes, u32 protected bytes} pairs), in sample order. saiz and
// saio already point at this information where it lies in the old moofs;
// this copy is for readers that take the encryption of a plain movie's
// samples only from a senc (ffmpeg reads a saio with a single offset only,
// and refuses the file otherwise).
//
// Built one sample at a time from the information of the fragments. A sample
// without any is described as a clear one (a zero IV and clear ranges over
// the whole sample) when the track has per-sample IVs, or as encrypted whole
// with the track's constant IV when it has none. When information cannot be
// copied (it lies outside the moof that describes it) the copy is given up
// and no senc is written. A senc read from a movie atom is written back as
// read unless fragments add to the track's information; it is then dropped,
// as its entries cannot be split without the IV size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "atoms/be.h"
#include "tables/stsz.h"

class qt_senc_info {
public:
    void clear();
    bool parse_atom_data(const unsigned char* data, size_t len);

    // Starts the copy for a track whose samples have IVs of iv_size bytes.
    // The copy covers no sample yet; samples before the first added are
    // described as having no information.
    void begin(uint8_t iv_size);
    bool building() const { return building_; }
    void give_up() { given_up_ = true; }

    // Appends the sample's information (`n` bytes, none when 0) and its size.
    void add_sample(const unsigned char* info, size_t n, uint32_t sample_size);
    // Appends samples without information up to n, their sizes from stsz.
    void cover_samples(uint64_t n, const qt_stsz_info& stsz);
    // A senc read from a movie atom that describes more than n samples is
    // dropped: its entries cannot be told apart without the IV size.
    void keep_samples(uint64_t n);

    void write_into(BeWriter& w) const;

private:
    std::vector<unsigned char> read_;  // body read from a movie atom
    bool building_ = false, given_up_ = false;
    uint8_t iv_size_ = 0;
    std::vector<unsigned char> info_;  // every sample's information, in order
    std::vector<uint8_t> sizes_;       // each sample's share of info_
    std::vector<uint32_t> sample_sizes_;
};
