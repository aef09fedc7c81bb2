// Which version of the strip lookup runs. Every version gives the same bytes,
// so the choice is speed alone: the widest instructions the processor has.
// VBMI looks up a whole column's register with two permutes; AVX2 needs a
// shuffle per 16 table entries a column's values reach; the plain loop reads
// one table entry per pixel.
#include "correct/strip_lookup.h"

#include "correct/strip_lookup_kernels.h"

namespace ffc {

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
    // The processor does not change under a running process: asked once.
    static const LookupPath chosen = [] {
        LookupPath fastest = LookupPath::kPlain;
        for (LookupPath path : kLookupPaths) {
            if (LookupPathRuns(path)) fastest = path;
        }
        return fastest;
    }();
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
