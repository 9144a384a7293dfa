// What a table or header record holds, as short text: the tests compare it
// with a hand-written expectation, so a field read from the wrong place shows
// even where the writer would put it back the same way.
#pragma once

#include <sstream>
#include <string>
#include <type_traits>

#include "movie/elst.h"
#include "movie/headers.h"
#include "movie/stbl.h"
#include "tests/support/atom_bytes.h"

using atom_bytes::Bytes;
using atom_bytes::hex;
using atom_bytes::to_hex;
using atom_bytes::written;

template <typename... T>
std::string str(const T&... v) {
    std::ostringstream out;
    (out << ... << v);
    return out.str();
}
// The elements' texts, space-separated.
template <typename C, typename F>
std::string each(const C& c, F text) {
    std::string s;
    for (const auto& e : c) s += (s.empty() ? "" : " ") + text(e);
    return s;
}
inline std::string num(uint64_t v) { return str(v); }
inline std::string hexs(const Bytes& b) {
    std::string s;
    for (uint8_t v : b) s += str(std::hex, std::uppercase, v >> 4, v & 15);
    return s;
}
// A four-character code; nothing for 0.
inline std::string cc(uint32_t v) { return v ? std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)} : ""; }
inline std::string aux(const AuxInfoType& a) { return a.present ? str(cc(a.type), "/", a.parameter, " ") : ""; }
// Runs of `count` samples, each with its `value`.
template <typename Run, typename V>
std::string runs(const std::vector<Run>& t, V Run::*value) {
    return each(t, [&](const Run& r) { return str(r.count, "x", r.*value); });
}

inline std::string fields(const qt_stts_info& t) {
    return str("n", t.sample_count(), " d", t.total_duration(), ": ", runs(t.tbl, &qt_time_to_sample_t::duration));
}
inline std::string fields(const qt_ctts_info& t) {
    return str("n", t.sample_count(), ": ", runs(t.tbl, &qt_composition_offset_t::offset));
}
inline std::string fields(const qt_stss_info& t) { return t.present ? "[" + each(t.tbl, num) + "]" : "absent"; }
template <uint32_t Type>
std::string fields(const SampleByteTable<Type>& t) { return t.present ? "[" + hexs(t.tbl) + "]" : "absent"; }
inline std::string fields(const qt_stsz_info& t) {
    return t.sample_size ? str(t.constant_count, "x", t.sample_size) : each(t.tbl, num);
}
inline std::string fields(const qt_stsc_info& t) {
    return each(t.tbl,
                [](auto& r) { return str(r.first_chunk, ":", r.samples_per_chunk, ":", r.sample_description_index); });
}
inline std::string fields(const qt_stco_info& t) { return each(t.tbl, num) + str(" max ", t.max_offset); }
inline std::string fields(const qt_saiz_info& t) {
    return aux(t.info_type) + (t.default_size ? str(t.default_count, "x", int(t.default_size)) : hexs(t.tbl));
}
inline std::string fields(const qt_saio_info& t) { return aux(t.info_type) + each(t.offsets, num); }
inline std::string fields(const qt_sbgp_info& t) {
    return str(cc(t.grouping_type), t.has_parameter ? str("/", t.grouping_type_parameter) : "", " n", t.sample_count(),
               ": ", runs(t.tbl, &qt_sample_to_group_t::group_index));
}
inline std::string fields(const qt_sgpd_info& t) {
    return str("v", int(t.version), " ", cc(t.grouping_type), " d", t.default_description_index, ": ",
               each(t.entries, hexs));
}
inline std::string subsample(const qt_subsample_t& s) {
    return str(s.size, "/", int(s.priority), "/", int(s.discardable), "/", s.codec_specific_parameters);
}
inline std::string fields(const qt_subs_info& t) {
    return str("f", t.flags, ": ",
               each(t.entries, [](auto& e) { return str(e.sample_number, "[", each(e.subsamples, subsample), "]"); }));
}
inline std::string fields(const qt_senc_info&) { return ""; }
template <typename Layout>
std::string fields(const HeaderRecord<Layout>& h) {
    if (!h.present()) return "absent";
    if constexpr (Layout::has_timescale) return str("v", int(h.version()), " ts", h.timescale(), " d", h.duration());
    else return str("v", int(h.version()), " id", h.track_id(), " d", h.duration());
}
// An edit as duration, media time and, when not 1.0, @rate integer.fraction.
inline std::string edit(const qt_edit_list_entry_t& e) {
    const bool one = e.media_rate_integer == 1 && e.media_rate_fraction == 0;
    return str(e.segment_duration, ",", e.media_time,
               one ? "" : str("@", e.media_rate_integer, ".", e.media_rate_fraction));
}
inline std::string fields(const qt_elst_info& t) { return t.present ? each(t.entries, edit) : "absent"; }

// Parses a whole atom's body into t; false when the table refuses it.
template <typename T>
bool parse(T& t, const Bytes& atom) {
    const unsigned char* body = atom.data() + 8;
    const size_t n = atom.size() - 8;
    if constexpr (std::is_same_v<T, qt_stco_info>) t.parse_atom_data(body, n, atom[7] == '4' ? 64 : 32);  // co64
    else if constexpr (std::is_void_v<decltype(t.parse_atom_data(body, n))>) t.parse_atom_data(body, n);
    else return t.parse_atom_data(body, n);
    return true;
}
// A table read from a body: what follows the 8-byte header.
template <typename T>
T with_body(const std::string& body_hex) {
    T t;
    parse(t, atom_bytes::cat({Bytes(8, 0), hex(body_hex)}));
    return t;
}
