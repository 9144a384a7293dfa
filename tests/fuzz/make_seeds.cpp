// Makes the seed corpora of the fuzz targets from the test fixtures:
//   corpus/fuzz_movie/<name>      switch byte 0, then the moov body
//   corpus/fuzz_fragments/<name>  the merger header, the moov body and the
//                                 first moof body (see fuzz_fragments.cpp)
//   corpus/fuzz_convert/<name>    the whole file, cut to its first 64 KiB
// Written by hand beside them: corpus/fuzz_movie/timeline_past_2e63, a
// track (timescale 1000) whose stts runs {2^31 x 2^32-1, 1 x 2^31-11} reach
// 2^63 - 11 ticks and whose ctts shows every sample 100 ticks late, so that
// its presentation end leaves the signed 64-bit range.
// Usage: fuzz_make_seeds <fixture dir> <corpus dir>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "atoms/be.h"
#include "atoms/child_walk.h"
#include "atoms/fourcc.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kWholeFileSeedLimit = 65536;
constexpr uint64_t kMaxU16 = 0xFFFF;

using Bytes = std::vector<unsigned char>;

Bytes read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_all(const fs::path& p, const Bytes& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

struct TopLevel {
    const ChildAtom* moov = nullptr;
    const ChildAtom* moof = nullptr;
    uint64_t moof_offset = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <fixture dir> <corpus dir>\n", argv[0]);
        return 1;
    }
    const fs::path fixtures = argv[1];
    const fs::path corpus = argv[2];
    for (const char* target : {"fuzz_movie", "fuzz_fragments", "fuzz_convert"}) {
        fs::create_directories(corpus / target);
    }

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(fixtures)) {
        if (entry.is_regular_file() && entry.path().extension() == ".mp4") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());

    int failures = 0;
    std::vector<Bytes> seen;  // a fixture that copies another adds nothing
    for (const fs::path& file : files) {
        const Bytes bytes = read_all(file);
        if (std::find(seen.begin(), seen.end(), bytes) != seen.end()) continue;
        seen.push_back(bytes);
        const std::string name = file.stem().string();

        std::vector<ChildAtom> atoms;
        walk_children(bytes.data(), bytes.size(), [&](const ChildAtom& c) { atoms.push_back(c); });
        TopLevel top;
        for (const ChildAtom& c : atoms) {
            if (c.type == fourcc("moov") && top.moov == nullptr) top.moov = &c;
            if (c.type == fourcc("moof") && top.moof == nullptr) {
                top.moof = &c;
                top.moof_offset = static_cast<uint64_t>(c.atom - bytes.data());
            }
        }

        if (top.moov != nullptr) {
            Bytes seed{0};
            seed.insert(seed.end(), top.moov->body(), top.moov->body() + top.moov->body_len());
            if (!write_all(corpus / "fuzz_movie" / name, seed)) ++failures;
        }
        if (top.moov != nullptr && top.moof != nullptr && top.moov->body_len() <= kMaxU16 &&
            top.moof_offset <= kMaxU16) {
            const uint64_t after_moof = top.moof_offset + top.moof->size;
            Bytes seed;
            BeWriter w(seed);
            w.u16(static_cast<uint16_t>(top.moov->body_len()));
            w.u8(0);
            w.u16(static_cast<uint16_t>(top.moof_offset));
            w.u16(static_cast<uint16_t>(std::min<uint64_t>(bytes.size() - after_moof, kMaxU16)));
            w.bytes(top.moov->body(), top.moov->body_len());
            w.bytes(top.moof->body(), top.moof->body_len());
            if (!write_all(corpus / "fuzz_fragments" / name, seed)) ++failures;
        }
        const size_t kept = std::min(bytes.size(), kWholeFileSeedLimit);
        const Bytes whole(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        if (!write_all(corpus / "fuzz_convert" / name, whole)) ++failures;
    }
    std::printf("%zu fixtures, %d write failures\n", files.size(), failures);
    return failures == 0 ? 0 : 1;
}
