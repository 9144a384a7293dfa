#include "fragments/aux_info_merge.h"

#include <algorithm>
#include <utility>

#include "atoms/fourcc.h"
#include "movie/sample_protection.h"
#include "atoms/saturating.h"

namespace {

constexpr uint32_t kSubsampleMapFlag = 0x000002;
constexpr size_t kSubsampleBytes = 6;
constexpr size_t kMaxSaizSize = 255;

template <typename Table>
size_t find_kind(std::vector<Table>& tables, const AuxInfoType& kind) {
    size_t at = 0;
    while (at < tables.size() && !(tables[at].info_type == kind)) ++at;
    if (at == tables.size()) {
        Table fresh;
        fresh.info_type = kind;
        tables.push_back(fresh);
    }
    return at;
}

// A single offset for several chunks: the information lies in one piece,
// each chunk's after that of the samples of the chunks before it.
void split_single_offset(qt_saio_info& saio, const qt_stbl_info& stbl) {
    const qt_saiz_info* saiz = nullptr;
    for (const qt_saiz_info& s : stbl.saiz) {
        if (s.info_type == saio.info_type) saiz = &s;
    }
    const uint64_t sizes = saiz ? saiz->sample_count() : 0;
    const auto& runs = stbl.stsc.tbl;
    uint64_t at = saio.offsets[0];
    uint64_t sample = 0;
    size_t run = 0;
    saio.offsets.clear();
    for (uint64_t chunk = 1; chunk <= stbl.stco.tbl.size(); ++chunk) {
        while (run + 1 < runs.size() && runs[run + 1].first_chunk <= chunk) ++run;
        saio.offsets.push_back(at);
        const uint64_t n = runs.empty() ? 0 : runs[run].samples_per_chunk;
        for (const uint64_t end = std::min(saturating_add(sample, n), sizes); sample < end; ++sample) {
            at = saturating_add(at, saiz->size_of(sample));
        }
    }
}

}  // namespace

const SampleProtection& AuxInfoMerge::protection() {
    if (!protection_) {
        const RawAtom* stsd = track_.stbl().other_atoms.find(fourcc("stsd"));
        protection_ = stsd ? sample_protection(*stsd, description_index_) : SampleProtection{};
    }
    return *protection_;
}

AuxInfoMerge::AuxInfoMerge(const moof_traf_info_t& traf, qt_track_info& track, uint64_t data_base,
                           const MoofBody& moof, uint32_t description_index)
    : traf_(traf), track_(track), moof_(moof), description_index_(description_index) {
    qt_stbl_info& stbl = track.stbl();
    for (qt_saio_info& saio : stbl.saio) {
        if (saio.offsets.size() == 1 && stbl.stco.tbl.size() != 1) split_single_offset(saio, stbl);
    }

    for (const qt_saiz_info& saiz : traf.saiz) {
        auto saio = std::find_if(traf.saio.begin(), traf.saio.end(),
                                 [&](const qt_saio_info& o) { return o.info_type == saiz.info_type; });
        if (saio == traf.saio.end()) continue;
        // One offset for the whole traf, or one per trun; anything else says
        // nothing usable about where the information lies.
        if (saio->offsets.size() != 1 && saio->offsets.size() != traf.truns.size()) continue;
        Stream s;
        s.sizes = saiz;
        for (uint64_t o : saio->offsets) s.offsets.push_back(saturating_add(data_base, o));
        add(std::move(s), saiz.info_type);
    }
    if (streams_.empty() && traf.senc.present) from_sample_encryption();
}

void AuxInfoMerge::add(Stream stream, const AuxInfoType& kind) {
    qt_stbl_info& stbl = track_.stbl();
    stream.saiz = find_kind(stbl.saiz, kind);
    stream.saio = find_kind(stbl.saio, kind);
    for (const Stream& s : streams_) {
        if (s.saiz == stream.saiz) return;  // one source per kind
    }
    if (stream.sizes.default_size == 0) {
        stream.before.reserve(stream.sizes.tbl.size());
        uint64_t sum = 0;
        for (uint8_t size : stream.sizes.tbl) {
            stream.before.push_back(sum);
            sum += size;
        }
    }

    // The encryption information of a protected track: implied by the
    // scheme, or named as it.
    const SampleProtection& p = protection();
    const bool encryption = !kind.present || (kind.type == p.scheme_type && kind.parameter == 0);
    bool copying = false;
    for (const Stream& s : streams_) copying = copying || s.copied;
    if (p.known && encryption && !copying) {
        if (!stbl.senc.building()) stbl.senc.begin(p.per_sample_iv_size);
        stream.copied = true;
    }
    streams_.push_back(std::move(stream));
}

void AuxInfoMerge::from_sample_encryption() {
    const moof_traf_info_t::sample_encryption_t& senc = traf_.senc;
    const bool maps = (senc.flags & kSubsampleMapFlag) != 0;
    size_t iv_size = senc.iv_size;
    if (!senc.iv_size_given) {
        const SampleProtection& p = protection();
        if (p.known) {
            iv_size = p.per_sample_iv_size;
        } else if (!maps && senc.sample_count != 0 && senc.entries.size() % senc.sample_count == 0) {
            iv_size = senc.entries.size() / senc.sample_count;
        } else {
            return;
        }
    }
    if (iv_size == 0 && !maps) return;  // nothing per sample

    Stream s;
    BeReader r(senc.entries.data(), senc.entries.size());
    for (uint32_t i = 0; i < senc.sample_count; ++i) {
        size_t size = iv_size;
        r.skip(iv_size);
        if (maps) {
            const uint16_t n = r.u16();
            r.skip(kSubsampleBytes * n);
            size += 2 + kSubsampleBytes * n;
        }
        if (!r.ok()) break;  // cut short: the entries before it count
        if (size > kMaxSaizSize) return;
        s.sizes.add_sample_size(static_cast<uint8_t>(size));
    }
    s.offsets = {saturating_add(moof_.offset, senc.entries_at)};
    add(std::move(s), AuxInfoType{});
}

uint64_t AuxInfoMerge::sizes_before(const Stream& s, uint64_t traf_index) {
    const uint64_t n = std::min(traf_index, s.sizes.sample_count());
    if (s.sizes.default_size != 0) return saturating_mul(n, s.sizes.default_size);
    if (n == s.before.size()) return n == 0 ? 0 : s.before.back() + s.sizes.tbl.back();
    return s.before[static_cast<size_t>(n)];
}

uint64_t AuxInfoMerge::where(const Stream& s, size_t run, uint64_t run_first, uint64_t traf_index) const {
    if (s.offsets.size() == 1) return saturating_add(s.offsets[0], sizes_before(s, traf_index));
    return saturating_add(s.offsets[run], sizes_before(s, traf_index) - sizes_before(s, run_first));
}

void AuxInfoMerge::copy(const Stream& s, size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index) {
    qt_stbl_info& stbl = track_.stbl();
    stbl.senc.cover_samples(track_index, stbl.stsz);
    const size_t n = s.sizes.size_of(traf_index);
    const uint64_t at = where(s, run, run_first, traf_index);
    if (n != 0 && (at < moof_.offset || at - moof_.offset > moof_.len || n > moof_.len - (at - moof_.offset))) {
        stbl.senc.give_up();
        return;
    }
    stbl.senc.add_sample(n != 0 ? moof_.data + (at - moof_.offset) : nullptr, n, stbl.stsz.size_of(track_index));
}

void AuxInfoMerge::sample(size_t run, uint64_t run_first, uint64_t traf_index, uint64_t track_index) {
    for (const Stream& s : streams_) {
        qt_saiz_info& saiz = track_.stbl().saiz[s.saiz];
        saiz.cover_samples(track_index);
        saiz.add_sample_size(s.sizes.size_of(traf_index));
        if (s.copied) copy(s, run, run_first, traf_index, track_index);
    }
}

void AuxInfoMerge::chunk(size_t run, uint64_t run_first) {
    const uint64_t chunks = track_.stbl().stco.tbl.size();
    for (const Stream& s : streams_) {
        qt_saio_info& saio = track_.stbl().saio[s.saio];
        saio.cover_chunks(chunks - 1);
        saio.offsets.push_back(where(s, run, run_first, run_first));
    }
}

void AuxInfoMerge::finish() {
    qt_stbl_info& stbl = track_.stbl();
    for (qt_saiz_info& saiz : stbl.saiz) saiz.cover_samples(track_.sumSampleCounts());
    for (qt_saio_info& saio : stbl.saio) saio.cover_chunks(stbl.stco.tbl.size());
    stbl.senc.cover_samples(track_.sumSampleCounts(), stbl.stsz);
}
