// The versions of the strip lookup, one file each, for the dispatcher in
// strip_lookup.cpp and nothing else. The SIMD versions are built with their
// own target attributes, so the whole library still runs on any x86-64; only
// the dispatcher decides whether one may be called.
#ifndef VYR_FFC_STRIP_LOOKUP_KERNELS_H
#define VYR_FFC_STRIP_LOOKUP_KERNELS_H

#include "correct/strip_lookup.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FFC_HAVE_X86_SIMD 1
#endif

namespace ffc {

// The plain loop: columns [0, n) of one row.
void LookUpRowPlain(const uint8_t* tables, const uint8_t* in, uint8_t* out, int n);

// The plain loop over rows [firstRow, strip.rows); the SIMD versions finish
// the rows their tiles leave with it.
void LookUpRowsPlain(const uint8_t* tables, const StripRows& strip, int firstRow);

#ifdef FFC_HAVE_X86_SIMD
void LookUpStripAvx2(const uint8_t* tables, const StripRows& strip);
void LookUpStripAvx512Vbmi(const uint8_t* tables, const StripRows& strip);
#endif

}  // namespace ffc

#endif  // VYR_FFC_STRIP_LOOKUP_KERNELS_H
