#include "api/camera_identity.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace vyrffc {

namespace {

constexpr size_t kMostFieldBytes = 128;
constexpr size_t kMostKeyBytes = 64;
constexpr size_t kMostValueBytes = 1024;
constexpr size_t kMostNotes = 64;

// The length of the UTF-8 sequence at `at` whose code point is printable
// (no C0 or C1 control, no DEL), or 0 for a byte that starts none: a stray
// continuation byte, an overlong form, a surrogate, a point past U+10FFFF.
size_t PrintableSequence(const std::string& text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    const uint8_t lead = byte(at);
    size_t length = 0;
    uint32_t point = 0;
    if (lead < 0x80) {
        return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() - at < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0u) != 0x80u) return 0;
        point = (point << 6) | (byte(at + i) & 0x3Fu);
    }
    const uint32_t fewest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < fewest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    if (point >= 0x80 && point <= 0x9F) return 0;
    return length;
}

bool Printable(const std::string& text) {
    for (size_t at = 0; at < text.size();) {
        const size_t length = PrintableSequence(text, at);
        if (length == 0) return false;
        at += length;
    }
    return true;
}

// Why one field is not kept, or empty.
std::string FieldProblem(const std::string& what, const std::string& text, size_t mostBytes) {
    if (text.size() > mostBytes) {
        return what + " is " + std::to_string(text.size()) + " bytes long; at most " + std::to_string(mostBytes) +
               " are kept";
    }
    if (!Printable(text)) return what + " is not UTF-8 text without control characters";
    return "";
}

}  // namespace

std::string CameraIdentityProblem(const CameraIdentity& camera) {
    std::string problem = FieldProblem("the camera model", camera.model, kMostFieldBytes);
    if (problem.empty()) problem = FieldProblem("the camera serial", camera.serial, kMostFieldBytes);
    if (!problem.empty()) return problem;
    if (camera.notes.size() > kMostNotes) {
        return std::to_string(camera.notes.size()) + " notes are given; at most " + std::to_string(kMostNotes) +
               " are kept";
    }
    std::set<std::string> keys;
    for (const auto& [key, value] : camera.notes) {
        // The key is named in a message only once it is known to be text.
        problem = FieldProblem("a note key", key, kMostKeyBytes);
        if (!problem.empty()) return problem;
        if (key.empty() || key.find('=') != std::string::npos) {
            return "the note key \"" + key + "\" is empty or holds '='";
        }
        problem = FieldProblem("the note " + key, value, kMostValueBytes);
        if (!problem.empty()) return problem;
        if (!keys.insert(key).second) return "the note " + key + " is given twice";
    }
    return "";
}

CameraIdentity KeptCameraIdentity(CameraIdentity camera) {
    std::sort(camera.notes.begin(), camera.notes.end());
    return camera;
}

void RequireCamera(const Calibration& calibration, const CameraIdentity& expected) {
    if (!expected.Named()) {
        throw Error(ErrorReason::kInvalidSettings, "name the camera to require: a model, a serial or both");
    }
    const std::string problem = CameraIdentityProblem(expected);
    if (!problem.empty()) throw Error(ErrorReason::kInvalidSettings, "the required camera: " + problem);
    const CameraIdentity& kept = calibration.results().camera;
    const auto describe = [](const CameraIdentity& camera) {
        std::string text;
        if (!camera.model.empty()) text += "model \"" + camera.model + "\"";
        if (!camera.serial.empty()) text += std::string(text.empty() ? "" : ", ") + "serial \"" + camera.serial + "\"";
        return text;
    };
    if (!kept.Named()) {
        throw Error(ErrorReason::kCameraMismatch,
                    "the calibration names no camera, and " + describe(expected) + " is required");
    }
    const bool modelDiffers = !expected.model.empty() && expected.model != kept.model;
    const bool serialDiffers = !expected.serial.empty() && expected.serial != kept.serial;
    if (modelDiffers || serialDiffers) {
        throw Error(ErrorReason::kCameraMismatch, "the calibration is of the camera with " + describe(kept) +
                                                      ", not " + describe(expected));
    }
}

}  // namespace vyrffc
