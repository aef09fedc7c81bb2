// The fitting steps in their plain, one-call forms, which the runs reach
// through faster ones (a design factored once for many right-hand sides, gaps
// filled from a list of the known entries); the tests check one against the
// other.
#ifndef FFC_TESTS_SUPPORT_PLAIN_FITS_H
#define FFC_TESTS_SUPPORT_PLAIN_FITS_H

#include <cstdint>
#include <vector>

#include "fit/polynomial.h"

namespace ffc::testing {

// Least-squares coefficients of the factored design for the values y, as
// SolvePolyfitInto gives them, in a new vector.
std::vector<float> SolvePolyfit(const PolyfitDesign& design, const std::vector<float>& y);

// The least-squares polynomial of the given order through the points (x, y):
// order + 1 coefficients, constant term first.
std::vector<float> Polyfit(const std::vector<float>& x, const std::vector<float>& y, int order);

// FillTableGapsOfKnown with the known entries found by scanning the table for
// entries other than kUnknownEntry.
void FillTableGaps(std::vector<int32_t>& table);

}  // namespace ffc::testing

#endif  // FFC_TESTS_SUPPORT_PLAIN_FITS_H
