// What the tool says about a calibration beside its results: the camera it
// belongs to (given to calibrate, kept in the file, required by correct) and
// the output level a raw level of the reference columns becomes.
#ifndef CISFFC_CALIBRATION_FACTS_H
#define CISFFC_CALIBRATION_FACTS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "calibration.h"

namespace cisffc {

// The identity of --camera-model, --camera-serial and the --note KEY=VALUE
// options; a note without '=' is a usage error.
vyrffc::CameraIdentity ParseCameraIdentity(const std::string& model, const std::string& serial,
                                           const std::vector<std::string>& notes);

// "model M, serial S; notes: k=v, ..." or "none named".
std::string CameraText(const vyrffc::CameraIdentity& camera);

// {"model", "serial", "notes": {key: value}}.
nlohmann::json CameraJson(const vyrffc::CameraIdentity& camera);

// Fails the command, before any image is read, unless the calibration names
// the required camera (an empty model or serial is not compared).
void RequireCameraOf(const Calibration& calibration, const std::string& model, const std::string& serial);

// One line: what raw levels of the reference columns come out as in this
// mode and rule, and where the scale comes from.
void PrintOutputLevel(std::ostream& out, const Calibration& calibration, TestFunction test, int32_t mode);

// For the help of correct and report: how the output level relates to the
// raw level.
extern const char* const kOutputLevelHelp;

}  // namespace cisffc

#endif  // CISFFC_CALIBRATION_FACTS_H
