// The calibration as JSON: the parameters that produced it, the images used
// and skipped, and every result the accessors hand out.
#ifndef CISFFC_RESULTS_JSON_H
#define CISFFC_RESULTS_JSON_H

#include <nlohmann/json.hpp>

#include "calibration.h"

namespace cisffc {

// Floats are written in their shortest exact decimal form, so reading a
// number back and converting it to float gives the same bits.
nlohmann::json CalibrationToJson(const Calibration& calibration);

}  // namespace cisffc

#endif  // CISFFC_RESULTS_JSON_H
