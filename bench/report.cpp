#include "bench/report.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint64_t kLargeFile = 1000000;
constexpr uint64_t kMediumFile = 100000;
constexpr double kLargeFileSeconds = 1.0;
constexpr double kMaxGrowth = 12.0;
constexpr double kMemoryBase = 64.0 * 1024 * 1024;
constexpr double kMemoryPerSample = 40.0;

std::string with_commas(unsigned long long n) {
    std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string bytes_text(double bytes) {
    if (bytes >= 1024.0 * 1024 * 1024) return format("%.2f GiB", bytes / (1024.0 * 1024 * 1024));
    return format("%.1f MiB", bytes / (1024.0 * 1024));
}

std::string ms_text(double seconds) { return format("%.1f ms", seconds * 1000); }

std::string count_text(long long n) { return n < 0 ? "n/a" : with_commas(static_cast<unsigned long long>(n)); }

const CaseResult* find(const std::vector<CaseResult>& results, Timing timing, uint64_t samples) {
    for (const CaseResult& r : results) {
        if (r.timing == timing && r.samples == samples && r.ok()) return &r;
    }
    return nullptr;
}

const Timing kTimings[] = {Timing::constant, Timing::varying};

struct Verdict {
    bool measured = true;
    bool met = true;
    std::string figures;

    void add(bool ok, const std::string& text) {
        met = met && ok;
        figures += (figures.empty() ? "" : "; ") + text;
    }
    void missing(const std::string& what) {
        measured = false;
        figures += (figures.empty() ? "" : "; ") + what + " not measured";
    }
};

bool print_verdict(const char* target, const Verdict& v) {
    const char* state = !v.measured ? "NOT MEASURED" : v.met ? "met" : "MISSED";
    std::printf("  [%s] %s\n      %s\n", state, target, v.figures.c_str());
    return v.measured && v.met;
}

Verdict large_file_speed(const std::vector<CaseResult>& results) {
    Verdict v;
    for (Timing t : kTimings) {
        const CaseResult* r = find(results, t, kLargeFile);
        if (r == nullptr) v.missing(timing_name(t));
        else v.add(r->convert_seconds < kLargeFileSeconds, std::string(timing_name(t)) + " " + ms_text(r->convert_seconds));
    }
    return v;
}

Verdict linear_growth(const std::vector<CaseResult>& results) {
    Verdict v;
    for (Timing t : kTimings) {
        const CaseResult* small = find(results, t, kMediumFile);
        const CaseResult* large = find(results, t, kLargeFile);
        if (small == nullptr || large == nullptr) {
            v.missing(timing_name(t));
            continue;
        }
        const double ratio = large->convert_seconds / small->convert_seconds;
        const double cpu_ratio = large->convert_cpu_seconds / small->convert_cpu_seconds;
        v.add(ratio <= kMaxGrowth, std::string(timing_name(t)) + " " + format("%.1fx", ratio) + " (" +
                                       ms_text(large->convert_seconds) + " / " + ms_text(small->convert_seconds) +
                                       "; cpu " + format("%.1fx", cpu_ratio) + ")");
    }
    return v;
}

Verdict flat_write_calls(const std::vector<CaseResult>& results) {
    Verdict v;
    for (Timing t : kTimings) {
        const CaseResult* smallest = nullptr;
        std::string list;
        bool counted = true;
        int sizes = 0;
        for (const CaseResult& r : results) {
            if (r.timing != t || !r.ok()) continue;
            ++sizes;
            counted = counted && r.convert_writes() >= 0;
            if (smallest == nullptr || r.samples < smallest->samples) smallest = &r;
            list += (list.empty() ? "" : " / ") + count_text(r.convert_writes());
        }
        if (sizes < 2 || !counted) {
            v.missing(timing_name(t));
            continue;
        }
        bool flat = true;
        for (const CaseResult& r : results) {
            if (r.timing == t && r.ok() && r.convert_writes() > smallest->convert_writes()) flat = false;
        }
        v.add(flat, std::string(timing_name(t)) + " " + list);
    }
    return v;
}

Verdict memory_bound(const std::vector<CaseResult>& results) {
    Verdict v;
    for (const CaseResult& r : results) {
        if (!r.ok()) continue;
        const double limit = kMemoryBase + kMemoryPerSample * static_cast<double>(r.samples);
        const double peak = static_cast<double>(r.convert_peak_kib) * 1024;
        v.add(peak < limit, std::string(timing_name(r.timing)) + " " + with_commas(r.samples) + ": " +
                                bytes_text(peak) + " of " + bytes_text(limit));
    }
    if (v.figures.empty()) v.missing("every file");
    return v;
}

}  // namespace

void print_table(const std::vector<CaseResult>& results) {
    const char* row = "%-8s %10s %9s %9s %6s %10s %10s %9s %10s %6s %5s %9s %6s  %s\n";
    std::printf(row, "timing", "samples", "video", "audio", "frags", "file size", "convert", "cpu", "peak RSS",
                "writes", "syncs", "undo", "writes", "check");
    for (const CaseResult& r : results) {
        const bool ran = r.runs > 0;
        std::printf(row, timing_name(r.timing), with_commas(r.samples).c_str(), with_commas(r.video_samples).c_str(),
                    with_commas(r.audio_samples).c_str(), with_commas(r.fragments).c_str(),
                    bytes_text(static_cast<double>(r.file_size)).c_str(),
                    ran ? ms_text(r.convert_seconds).c_str() : "-", ran ? ms_text(r.convert_cpu_seconds).c_str() : "-",
                    ran ? bytes_text(static_cast<double>(r.convert_peak_kib) * 1024).c_str() : "-",
                    count_text(r.convert_writes()).c_str(),
                    r.convert_calls.ok ? count_text(r.convert_calls.syncs).c_str() : "n/a",
                    ran ? ms_text(r.undo_seconds).c_str() : "-", count_text(r.undo_writes()).c_str(),
                    r.ok() ? "restored" : r.problem.c_str());
    }
    for (const CaseResult& r : results) {
        if (r.ok() && !r.convert_calls.traced) {
            std::printf("note: %s %s: no system call trace allowed; writes are syscw alone, truncates and "
                        "syncs not counted\n",
                        timing_name(r.timing), with_commas(r.samples).c_str());
        }
    }
    // The timed runs' kernel count must agree with the trace.
    for (const CaseResult& r : results) {
        if (!r.ok() || !r.convert_calls.ok || !r.undo_calls.ok) continue;
        if (r.convert_syscw != r.convert_calls.writes || r.undo_syscw != r.undo_calls.writes) {
            std::printf("note: %s %s: syscw of the timed runs %s / %s, traced write calls %lld / %lld\n",
                        timing_name(r.timing), with_commas(r.samples).c_str(), count_text(r.convert_syscw).c_str(),
                        count_text(r.undo_syscw).c_str(), r.convert_calls.writes, r.undo_calls.writes);
        }
    }
}

bool print_targets(const std::vector<CaseResult>& results) {
    std::printf("\nTargets\n");
    bool all = true;
    all = print_verdict("a 1,000,000-sample file converts in under 1 s", large_file_speed(results)) && all;
    all = print_verdict("1,000,000 samples take at most 12 times as long as 100,000", linear_growth(results)) && all;
    all = print_verdict("write calls do not grow with the number of samples", flat_write_calls(results)) && all;
    all = print_verdict("peak memory below 64 MiB + 40 bytes per sample", memory_bound(results)) && all;
    return all;
}
