// One correction call made by the fast code and by the plain per-pixel rules,
// compared bit for bit. Free of any test framework, so that a fuzzer can use
// it too.
#ifndef FFC_TESTS_SUPPORT_CORRECTION_CHECK_H
#define FFC_TESTS_SUPPORT_CORRECTION_CHECK_H

#include <cstdint>
#include <string>

#include <opencv2/core/mat.hpp>

#include "correct/correction_plan.h"
#include "instance/instance.h"

namespace ffc::testing {

// Corrects `input` into a copy of `output` (with `inPlace`, a copy of `input`
// in its own buffer) both ways. Empty when the two agree on the result, the
// exception's text and every output byte, including those a throw leaves
// behind (except in a new output, whose unwritten bytes are undefined); when
// the call threw nothing but "Vector is empty", left the instance as it was,
// gave true only with an output of the input's size, and when rejecting the
// input left the output untouched. Otherwise the first difference in one
// line. `fastOutcome` receives the fast call's result, exception and output
// bytes, for comparing one call with another.
std::string DifferenceFromPlain(const FlatFieldCorrectionInstance& instance, const cv::Mat& input,
                                const cv::Mat& output, int32_t mode, Generation generation, bool inPlace,
                                std::string* fastOutcome = nullptr);

}  // namespace ffc::testing

#endif  // FFC_TESTS_SUPPORT_CORRECTION_CHECK_H
