#include "calibration_facts.h"

#include <iterator>

#include "report.h"
#include "tool_error.h"

namespace cisffc {

const char* const kOutputLevelHelp =
    "Output level: the correction does not keep the raw gray scale. The current run folds a gain and an offset "
    "into its fits so that its fitting range fills 0..255 (in the demo raw 60 at the reference columns becomes "
    "about 35 and raw 186 about 216); the previous run's modes 5, 6 and 7 multiply by 255 / its upper fit bound; "
    "mode 4, and modes 0 and 1 of the previous and segmented runs, give the reference columns' own level. "
    "report prints the mapping of the calibration and mode it uses.";

vyrffc::CameraIdentity ParseCameraIdentity(const std::string& model, const std::string& serial,
                                           const std::vector<std::string>& notes) {
    vyrffc::CameraIdentity camera{model, serial, {}};
    for (const std::string& note : notes) {
        const size_t equals = note.find('=');
        if (equals == std::string::npos) FailUsage("--note: expected KEY=VALUE, got a note without '='");
        camera.notes.emplace_back(note.substr(0, equals), note.substr(equals + 1));
    }
    return camera;
}

std::string CameraText(const vyrffc::CameraIdentity& camera) {
    if (!camera.Named() && camera.notes.empty()) return "none named";
    std::string text = "model " + (camera.model.empty() ? std::string("-") : camera.model) + ", serial " +
                       (camera.serial.empty() ? std::string("-") : camera.serial);
    for (size_t i = 0; i < camera.notes.size(); ++i) {
        text += (i == 0 ? "; notes: " : ", ") + camera.notes[i].first + "=" + camera.notes[i].second;
    }
    return text;
}

nlohmann::json CameraJson(const vyrffc::CameraIdentity& camera) {
    nlohmann::json notes = nlohmann::json::object();
    for (const auto& [key, value] : camera.notes) notes[key] = value;
    return {{"model", camera.model}, {"serial", camera.serial}, {"notes", notes}};
}

void RequireCameraOf(const Calibration& calibration, const std::string& model, const std::string& serial) {
    if (model.empty() && serial.empty()) return;
    try {
        vyrffc::RequireCamera(calibration.library, {model, serial, {}});
    } catch (const vyrffc::Error& error) {
        FailRun(calibration.source + ": " + error.what());
    }
}

namespace {

// Where the output scale comes from, for the mode and rule.
std::string ScaleSource(const vyrffc::Results& r, TestFunction test, int32_t mode) {
    if (mode == 4) return "mode 4 gives the reference columns' own level";
    if (test == TestFunction::kPrevious && mode >= 5) {
        return "the range gain " + Fixed(r.rangeGain, 4) + " (255 / the upper fit bound " +
               Fixed(r.fitHighBound, 0) + ") stretches it";
    }
    if (r.run == RunKind::kCurrent) {
        return "the fits map the fitting range " + Fixed(r.fitLowBound, 0) + ".." + Fixed(r.fitHighBound, 0) +
               " onto 0..255";
    }
    return "the " + std::string(RunName(r.run)) + " run's fits give the reference columns' own level";
}

}  // namespace

void PrintOutputLevel(std::ostream& out, const Calibration& calibration, TestFunction test, int32_t mode) {
    out << "Output level (mode " << mode << ", " << vyrffc::ModeName(mode) << "): ";
    const double levels[] = {60.0, 120.0, 186.0};
    try {
        for (size_t i = 0; i < std::size(levels); ++i) {
            const double level = vyrffc::OutputLevel(calibration.library, levels[i], mode, test);
            out << (i == 0 ? "raw " + Fixed(levels[i], 0) + " at the reference columns -> "
                           : ", raw " + Fixed(levels[i], 0) + " -> ")
                << Fixed(level, 1);
        }
    } catch (const vyrffc::Error& error) {
        out << "not measured (" << error.what() << ")\n";
        return;
    }
    out << "; " << ScaleSource(calibration.results(), test, mode) << "\n";
}

}  // namespace cisffc
