// The calibration as JSON: the parameters that produced it and every result
// it holds, with the version of this layout and of the library.
#ifndef CISFFC_RESULTS_JSON_H
#define CISFFC_RESULTS_JSON_H

#include <string>

#include <nlohmann/json.hpp>

#include "calibration.h"

namespace cisffc {

// Raised whenever a key changes meaning or disappears.
constexpr int kResultsJsonVersion = 2;

// Floats are written in their shortest exact decimal form, so reading a
// number back and converting it to float gives the same bits.
// With a verdict, it is kept under "calibrationSet".
nlohmann::json CalibrationToJson(const Calibration& calibration,
                                 const vyrffc::CalibrationSetVerdict* verdict = nullptr);

// The JSON as the tool writes it: one entry a line, except that a list of
// numbers or names stays on one line; ends with a line break.
std::string JsonText(const nlohmann::json& value);

}  // namespace cisffc

#endif  // CISFFC_RESULTS_JSON_H
