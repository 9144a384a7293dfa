#include "fragments/merger.h"

#include <algorithm>
#include <optional>

#include "atoms/saturating.h"
#include "fragments/fragment_flags.h"
#include "fragments/moof_parser.h"
#include "fragments/traf_details.h"

namespace {

using trun_t = moof_traf_info_t::trun_t;
using trun_sample_t = trun_t::trun_sample_t;

qt_track_info* find_track(qt_moov_info& movie, uint32_t track_id) {
    for (qt_track_info& t : movie.tracks) {
        if (t.getTrackId() == track_id) return &t;
    }
    return nullptr;
}

// base + data offset; an offset that leaves the 64-bit range points at no
// byte of the file, so it is taken as lying past the end.
uint64_t offset_by(uint64_t base, int32_t data_offset) {
    if (data_offset >= 0) return saturating_add(base, static_cast<uint64_t>(data_offset));
    const uint64_t back = static_cast<uint64_t>(-static_cast<int64_t>(data_offset));
    return base < back ? UINT64_MAX : base - back;
}

// A sample's values: its own when the run carries them, else the traf
// header's default when its bit is set, else the track's trex.
struct SampleResolver {
    const moof_traf_info_t& traf;
    const qt_trex_info& trex;

    trun_sample_t resolve(const trun_t& run, const trun_sample_t& own, bool first_of_run) const {
        trun_sample_t s = own;
        if (!(run.tr_flags & trun_flags::kSampleDurationPresent)) {
            s.duration = (traf.tf_flags & tfhd_flags::kDefaultSampleDurationPresent) ? traf.default_sample_duration
                                                                                     : trex.default_sample_duration;
        }
        if (!(run.tr_flags & trun_flags::kSampleSizePresent)) {
            s.size = (traf.tf_flags & tfhd_flags::kDefaultSampleSizePresent) ? traf.default_sample_size
                                                                             : trex.default_sample_size;
        }
        if (!(run.tr_flags & trun_flags::kSampleFlagsPresent)) {
            s.flags = (traf.tf_flags & tfhd_flags::kDefaultSampleFlagsPresent) ? traf.default_sample_flags
                                                                               : trex.default_sample_flags;
        }
        if (first_of_run && run.has_first_sample_flags) s.flags = run.first_sample_flags;
        return s;
    }

    uint32_t sample_description_index() const {
        uint32_t index = (traf.tf_flags & tfhd_flags::kSampleDescriptionIndexPresent)
                             ? traf.sample_description_index
                             : trex.default_sample_description_index;
        return index == 0 ? 1 : index;
    }
};

// A decode time as stored is unsigned, but writers store one before 0 (the
// audio priming of ffmpeg's Smooth Streaming writer) as its two's
// complement: from 2^63 on it is read as negative.
int64_t signed_decode_time(const moof_traf_info_t& traf) { return static_cast<int64_t>(traf.decode_time()); }

// Makes the fragment start at its decode time (tfdt, else tfxd). The
// timeline starts at the first fragment's decode time unless the moov already
// held samples. A gap stretches the track's last sample; an overlap shortens
// the samples of the track's last fragment (placeholder durations of a
// recorder). An overlap that they cannot give, a decode time that jumps back
// as where two recordings were joined, is left as it is: the timeline never
// runs backwards.
void follow_decode_time(qt_track_info& track, const moof_traf_info_t& traf) {
    if (!track.decode_start_known) {
        track.decode_start = (track.sumSampleCounts() == 0 && traf.has_decode_time()) ? signed_decode_time(traf) : 0;
        track.decode_start_known = true;
        track.last_fragment_first_sample = track.sumSampleCounts();
    }
    if (traf.has_decode_time()) {
        // Both times are signed 64-bit values: their distance, taken the
        // right way round, is exact in 64 unsigned bits.
        const int64_t decode = signed_decode_time(traf), start = track.decode_start;
        const uint64_t end = track.sumSampleDurations();  // from the start
        if (decode < start) {
            track.trim_last_fragment(saturating_add(end, static_cast<uint64_t>(start) - static_cast<uint64_t>(decode)));
        } else if (const uint64_t at = static_cast<uint64_t>(decode) - static_cast<uint64_t>(start); at > end) {
            track.padLastSample(at - end);
        } else if (at < end) {
            track.trim_last_fragment(end - at);
        }
    }
    track.last_fragment_first_sample = track.sumSampleCounts();
}

// Samples that the track can still take: its tables number samples and
// chunks in 32 bits, and every run with samples adds a chunk.
uint64_t room_for_samples(const qt_track_info& track) {
    constexpr uint64_t kMax = UINT32_MAX;
    const uint64_t samples = track.sumSampleCounts();
    if (samples >= kMax || track.stbl().stco.tbl.size() >= kMax) return 0;
    return kMax - samples;
}

// Where a run stands in its traf: its place among the runs and the traf's
// index of its first sample.
struct RunPlace {
    size_t run;
    uint64_t traf_first;
};

// Appends one run's samples that lie before file_end; returns the end of the
// run's data.
uint64_t merge_run(qt_track_info* track, TrafDetails* details, const SampleResolver& resolver, const trun_t& run,
                   RunPlace place, uint64_t start, MergeBounds& bounds, MergeReport& report) {
    if (run.cut_short) {
        if (track) report.samples_left_out += run.sample_count;
        return start;
    }
    const uint64_t file_end = bounds.file_end;
    uint64_t pos = start;
    uint64_t kept = 0;
    const uint64_t first_index = track ? track->sumSampleCounts() : 0;
    const uint64_t table_room = track ? room_for_samples(*track) : 0;
    auto fits = [&](uint64_t at, uint32_t size) { return at <= file_end && size <= file_end - at; };
    // Samples are kept from the run's first on, so the kept one is also the
    // run's sample number `kept`.
    auto append = [&](const trun_sample_t& s) {
        track->appendSample(s.duration, s.size, s.flags,
                            static_cast<int32_t>(static_cast<uint32_t>(s.composition_offset)), first_index + kept);
        details->sample(place.run, place.traf_first, place.traf_first + kept, first_index + kept);
        ++kept;
    };

    if (run.has_per_sample_fields()) {
        bool past_end = false;
        for (size_t i = 0; i < run.samples.size(); ++i) {
            trun_sample_t s = resolver.resolve(run, run.samples[i], i == 0);
            past_end = past_end || !fits(pos, s.size);
            if (past_end) {
                if (track) ++report.samples_left_out;
            } else if (track && kept == table_room) {
                report.too_many_samples = true;
            } else if (track) {
                append(s);
            }
            pos = saturating_add(pos, s.size);
        }
        if (track) report.samples_left_out += run.sample_count - run.samples.size();
    } else {
        // Every sample alike (the first may differ in flags only): count the
        // samples up to file_end instead of trusting the declared count.
        const uint64_t held = run.samples_held();
        const trun_sample_t first = resolver.resolve(run, trun_sample_t{}, true);
        const trun_sample_t rest = resolver.resolve(run, trun_sample_t{}, false);
        uint64_t limit = file_end;
        if (bounds.moof_starts != nullptr) {
            auto next = std::upper_bound(bounds.moof_starts->begin(), bounds.moof_starts->end(), start);
            if (next != bounds.moof_starts->end()) limit = std::min(limit, *next);
        }
        const uint64_t room = start <= limit ? limit - start : 0;
        const uint64_t cost = std::max<uint32_t>(rest.size, 1);
        uint64_t fit = std::min({held, room / cost, bounds.implicit_bytes_left / cost});
        if (rest.size == 0) {
            fit = std::min(fit, bounds.empty_samples_left);
            bounds.empty_samples_left -= fit;
        }
        bounds.implicit_bytes_left -= fit * cost;
        if (track && fit > table_room) {
            report.too_many_samples = true;
            fit = table_room;
        }
        if (track) {
            for (uint64_t i = 0; i < fit; ++i) append(i == 0 ? first : rest);
            report.samples_left_out += held - fit;
        }
        pos = saturating_add(start, saturating_mul(held, rest.size));
    }
    if (track && kept > 0) {
        track->appendChunk(start, static_cast<uint32_t>(kept), resolver.sample_description_index());
        details->chunk(place.run, place.traf_first);
    }
    return pos;
}

}  // namespace

MergeReport append_from_moof_atom(qt_moov_info& movie, const unsigned char* data, size_t len, uint64_t moof_offset,
                                  uint64_t file_end) {
    MergeBounds bounds{file_end, file_end};
    return append_from_moof_atom(movie, data, len, moof_offset, bounds);
}

MergeReport append_from_moof_atom(qt_moov_info& movie, const unsigned char* data, size_t len, uint64_t moof_offset,
                                  MergeBounds& bounds, unsigned header_bytes) {
    bounds.empty_samples_left = len;
    MergeReport report;
    moof_info_t moof;
    parse_moof_atom(moof, data, len);
    for (const std::vector<unsigned char>& pssh : moof.pssh) movie.other_atoms.add_once(pssh);
    const MoofBody body{data, len, saturating_add(moof_offset, header_bytes)};

    const qt_trex_info no_defaults{};
    uint64_t previous_traf_end = moof_offset;
    for (const moof_traf_info_t& traf : moof.trafs) {
        qt_track_info* track = find_track(movie, traf.track_ID);
        if (track == nullptr) ++report.unlocated_trafs;
        else follow_decode_time(*track, traf);

        uint64_t base = previous_traf_end;
        if (traf.tf_flags & tfhd_flags::kBaseDataOffsetPresent) base = traf.base_data_offset;
        else if (traf.tf_flags & tfhd_flags::kDefaultBaseIsMoof) base = moof_offset;

        const SampleResolver resolver{traf, track ? track->trex : no_defaults};
        std::optional<TrafDetails> details;
        if (track) details.emplace(traf, *track, base, body, resolver.sample_description_index());
        uint64_t next = base;
        RunPlace place{0, 0};
        for (const trun_t& run : traf.truns) {
            const uint64_t start = run.has_data_offset ? offset_by(base, run.data_offset) : next;
            next = merge_run(track, details ? &*details : nullptr, resolver, run, place, start, bounds, report);
            ++place.run;
            place.traf_first = saturating_add(place.traf_first, run.sample_count);
        }
        if (details) details->finish();
        previous_traf_end = next;
    }
    return report;
}
