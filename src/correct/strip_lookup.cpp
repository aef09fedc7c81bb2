// Which version of the strip lookup runs. Every version gives the same bytes,
// so the choice is speed alone, and the widest instructions are not always
// the fastest: VBMI looks up a whole column's register with two permutes,
// which some processors run in two 256-bit halves; AVX2 needs a shuffle per
// 16 table entries a column's values reach; the plain loop reads one table
// entry per pixel. So each version that runs is timed once, on a small strip.
#include "correct/strip_lookup.h"

#include <algorithm>
#include <chrono>
#include <vector>

#include "correct/strip_lookup_kernels.h"

namespace ffc {

namespace {

constexpr int kTimedRows = 128;
constexpr int kTimedRounds = 7;

// A strip as the correction meets them: its first half's columns each span a
// narrow band, as on a flat target; the second half's span 20..199, as on a
// page.
std::vector<uint8_t> TimedStripPixels() {
    std::vector<uint8_t> pixels(static_cast<size_t>(kTimedRows) * kStripColumns);
    uint32_t state = 12345;
    for (int r = 0; r < kTimedRows; ++r) {
        for (int i = 0; i < kStripColumns; ++i) {
            state = state * 1103515245u + 12345u;
            const int noise = static_cast<int>(state >> 16);
            const int value = r < kTimedRows / 2 ? 90 + (i * 7) % 60 + noise % 9 : 20 + noise % 180;
            pixels[static_cast<size_t>(r) * kStripColumns + i] = static_cast<uint8_t>(value);
        }
    }
    return pixels;
}

// The fastest of a few rounds of `path` on the strip, in seconds.
double BestSeconds(LookupPath path, const uint8_t* tables, const StripRows& strip) {
    double best = 1e300;
    for (int round = 0; round < kTimedRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        LookUpStrip(path, tables, strip);
        best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

LookupPath FastestLookupPath() {
    alignas(64) static uint8_t tables[kStripColumns * kColumnTableSize];
    for (int e = 0; e < kStripColumns * kColumnTableSize; ++e) tables[e] = static_cast<uint8_t>(e * 131 + 7);
    const std::vector<uint8_t> in = TimedStripPixels();
    std::vector<uint8_t> out(in.size());
    const StripRows strip{in.data(), kStripColumns, out.data(), kStripColumns, kTimedRows, kStripColumns};
    // And a chunk of 16 rows, as line cameras deliver them.
    StripRows chunk = strip;
    chunk.rows = 16;
    LookupPath fastest = LookupPath::kPlain;
    double fastestSeconds = 1e300;
    for (LookupPath path : kLookupPaths) {
        if (!LookupPathRuns(path)) continue;
        const double seconds = BestSeconds(path, tables, strip) + BestSeconds(path, tables, chunk);
        if (seconds < fastestSeconds) {
            fastest = path;
            fastestSeconds = seconds;
        }
    }
    return fastest;
}

}  // namespace

const char* LookupPathName(LookupPath path) {
    switch (path) {
        case LookupPath::kPlain: return "Plain";
        case LookupPath::kAvx2: return "Avx2";
        case LookupPath::kAvx512Vbmi: return "Avx512Vbmi";
    }
    return "?";
}

bool LookupPathRuns(LookupPath path) {
    if (path == LookupPath::kPlain) return true;
#ifdef FFC_HAVE_X86_SIMD
    __builtin_cpu_init();
    if (path == LookupPath::kAvx2) return __builtin_cpu_supports("avx2");
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi");
#else
    return false;
#endif
}

LookupPath ChosenLookupPath() {
    // The processor does not change under a running process: timed once.
    static const LookupPath chosen = FastestLookupPath();
    return chosen;
}

void LookUpStrip(LookupPath path, const uint8_t* tables, const StripRows& strip) {
    switch (path) {
#ifdef FFC_HAVE_X86_SIMD
        case LookupPath::kAvx512Vbmi:
            LookUpStripAvx512Vbmi(tables, strip);
            return;
        case LookupPath::kAvx2:
            LookUpStripAvx2(tables, strip);
            return;
#endif
        default:
            break;
    }
    LookUpRowsPlain(tables, strip, 0);
}

}  // namespace ffc
