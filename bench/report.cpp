#include "bench/report.h"

#include <cstdio>
#include <string>

namespace {

constexpr uint64_t kLargeFile = 1000000;
constexpr uint64_t kMediumFile = 100000;

std::string format(const char* fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string count_text(long long n) {
    if (n < 0) return "n/a";
    const std::string digits = std::to_string(n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string mib_text(double bytes) { return format("%.1f MiB", bytes / (1024 * 1024)); }
std::string ms_text(double seconds) { return format("%.1f ms", seconds * 1000); }

// One target: met when every figure added meets it, not measured when a
// figure it needs is missing.
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
        add(true, what + " not measured");
    }
    bool print(const char* target) const {
        std::printf("  [%s] %s\n      %s\n", !measured ? "NOT MEASURED" : met ? "met" : "MISSED", target,
                    figures.c_str());
        return measured && met;
    }
};

}  // namespace

void print_table(const std::vector<CaseResult>& results) {
    const char* row = "%-8s %10s %9s %9s %6s %10s %10s %9s %10s %6s %6s %13s %9s %6s  %s\n";
    std::printf(row, "kind", "samples", "video", "audio", "frags", "file size", "convert", "cpu", "peak RSS",
                "writes", "reads", "floor", "undo", "writes", "check");
    for (const CaseResult& r : results) {
        auto measured = [&](const std::string& text) { return r.runs > 0 ? text : std::string("-"); };
        const double size = static_cast<double>(r.file.size);
        std::printf(row, kind_name(r.kind), count_text(r.samples()).c_str(),
                    count_text(r.file.video_samples).c_str(), count_text(r.file.audio_samples).c_str(),
                    count_text(r.file.fragments).c_str(),
                    size >= 1 << 30 ? format("%.2f GiB", size / (1 << 30)).c_str() : mib_text(size).c_str(),
                    measured(ms_text(r.convert.seconds)).c_str(), measured(ms_text(r.convert.cpu_seconds)).c_str(),
                    measured(mib_text(static_cast<double>(r.convert.peak_rss_kib) * 1024)).c_str(),
                    count_text(r.convert.write_calls).c_str(), count_text(r.reads).c_str(),
                    measured(count_text(r.floor_reads) + " " + ms_text(r.floor_seconds)).c_str(),
                    measured(ms_text(r.undo.seconds)).c_str(),
                    count_text(r.undo.write_calls).c_str(), r.ok() ? "restored" : r.problem.c_str());
    }
}

bool print_targets(const std::vector<CaseResult>& results) {
    Verdict speed, growth, writes, memory, reads;
    for (Kind t : {Kind::constant, Kind::varying, Kind::indexed}) {
        const std::string name = kind_name(t);
        const CaseResult* medium = nullptr;
        const CaseResult* large = nullptr;
        const CaseResult* smallest = nullptr;  // sizes run in increasing order
        std::string write_counts;
        int sizes = 0;
        bool counted = true;
        bool flat = true;
        for (const CaseResult& r : results) {
            if (r.kind != t || !r.ok()) continue;
            if (r.samples() == kMediumFile) medium = &r;
            if (r.samples() == kLargeFile) large = &r;
            if (smallest == nullptr) smallest = &r;
            ++sizes;
            counted = counted && r.convert.write_calls >= 0;
            flat = flat && r.convert.write_calls <= smallest->convert.write_calls;
            write_counts += (write_counts.empty() ? " " : " / ") + count_text(r.convert.write_calls);
            const double limit = 64.0 * 1024 * 1024 + 40.0 * static_cast<double>(r.samples());
            const double peak = static_cast<double>(r.convert.peak_rss_kib) * 1024;
            memory.add(peak < limit, name + " " + count_text(r.samples()) + ": " +
                                         mib_text(peak) + " of " + mib_text(limit));
            const long long read_limit = static_cast<long long>(r.file.fragments) + 16;
            if (r.reads < 0) reads.missing(name + " " + count_text(r.samples()));
            else reads.add(r.reads <= read_limit, name + " " + count_text(r.samples()) + ": " + count_text(r.reads) +
                                                      " of " + count_text(read_limit));
        }
        if (large != nullptr) speed.add(large->convert.seconds < 1.0, name + " " + ms_text(large->convert.seconds));
        else speed.missing(name);
        if (medium != nullptr && large != nullptr) {
            const double ratio = large->convert.seconds / medium->convert.seconds;
            const double cpu_ratio = large->convert.cpu_seconds / medium->convert.cpu_seconds;
            growth.add(ratio <= 12, name + format(" %.1fx", ratio) + " (" + ms_text(large->convert.seconds) + " / " +
                                        ms_text(medium->convert.seconds) + format("; cpu %.1fx)", cpu_ratio));
        } else {
            growth.missing(name);
        }
        if (sizes >= 2 && counted) writes.add(flat, name + write_counts);
        else writes.missing(name);
        if (smallest == nullptr) memory.missing(name);
    }
    std::printf("\nTargets\n");
    bool all = speed.print("a 1,000,000-sample file converts in under 1 s");
    all = growth.print("1,000,000 samples take at most 12 times as long as 100,000") && all;
    all = writes.print("write calls do not grow with the number of samples") && all;
    all = memory.print("peak memory below 64 MiB + 40 bytes per sample") && all;
    return reads.print("reads of the file at most one per fragment, plus 16") && all;
}
