#include "VyrCISFlatfieldCorrection.hpp"

#include "api/calibration_file.h"

namespace vyrffc {

Error::Error(ErrorReason reason, const std::string& message) : std::runtime_error(message), reason_(reason) {}

const char* ReasonName(ErrorReason reason) {
    switch (reason) {
        case ErrorReason::kInvalidSettings: return "invalid settings";
        case ErrorReason::kFolderMissing: return "folder missing";
        case ErrorReason::kNoImageFiles: return "no image files";
        case ErrorReason::kTooFewImages: return "too few images";
        case ErrorReason::kColumnOutsideImage: return "column outside the image";
        case ErrorReason::kAllSaturated: return "every image saturated";
        case ErrorReason::kNoBrightnessRange: return "no brightness range";
        case ErrorReason::kFileUnreadable: return "file unreadable";
        case ErrorReason::kFileCorrupt: return "file corrupt";
        case ErrorReason::kFileTooNew: return "file too new";
        case ErrorReason::kImageUnusable: return "image unusable";
        case ErrorReason::kModeUnavailable: return "mode unavailable";
        case ErrorReason::kNoHoleCandidate: return "no hole candidate";
        case ErrorReason::kDarkRangeMissing: return "dark range missing";
        case ErrorReason::kUnfillableRow: return "unfillable row";
        case ErrorReason::kCameraMismatch: return "camera mismatch";
    }
    return "unknown";
}

// ReasonName's switch names every reason (the compiler warns of one it
// misses) and the reasons count up from 0, so the list is the names found
// before the first "unknown" and cannot miss a reason added later.
std::vector<ErrorReason> AllErrorReasons() {
    std::vector<ErrorReason> reasons;
    for (int value = 0; std::string_view(ReasonName(static_cast<ErrorReason>(value))) != "unknown"; ++value) {
        reasons.push_back(static_cast<ErrorReason>(value));
    }
    return reasons;
}

std::string LibraryVersion() { return VYR_FFC_VERSION; }

int FileFormatVersion() { return kCalibrationFileFormat; }

}  // namespace vyrffc
