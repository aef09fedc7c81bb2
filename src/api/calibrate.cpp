// Calibration through the C++ interface: the images read once, the settings
// resolved against them, every reason for refusing checked before the run,
// and the run of the library on the profiles.
#include <algorithm>
#include <optional>
#include <utility>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"
#include "api/camera_identity.h"
#include "api/image_list.h"
#include "api/settings.h"
#include "calib/runs.h"

namespace vyrffc {

namespace {

// The names of up to three images, and how many more.
std::string SomeNames(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size() && i < 3; ++i) text += (i ? ", " : "") + names[i];
    if (names.size() > 3) text += " and " + std::to_string(names.size() - 3) + " more";
    return text;
}

struct UsableImages {
    std::vector<std::vector<float>> profiles;
    std::vector<std::string> otherSize;
    std::vector<std::string> unusable;
};

UsableImages SortOut(ImageList& list, const Settings& settings, std::vector<std::string>& warnings) {
    UsableImages usable;
    for (ListedImage& image : list.images) {
        if (!image.problem.empty()) {
            usable.unusable.push_back(image.name);
            warnings.push_back("skipped " + image.name + ": " + image.problem);
        } else if (image.rows != settings.imageHeight || image.cols != settings.imageWidth) {
            usable.otherSize.push_back(image.name + " (" + SizeText(image.rows, image.cols) + ")");
            warnings.push_back("skipped " + image.name + ": " + SizeText(image.rows, image.cols) + ", not " +
                               SizeText(settings.imageHeight, settings.imageWidth));
        } else {
            usable.profiles.push_back(std::move(image.profile));
        }
    }
    return usable;
}

void RequireEnoughImages(const UsableImages& usable, const ImageList& list, const Settings& settings) {
    const size_t needed = settings.run == CalibrationRun::kSegmented ? ffc::kSegmentedMinimumImages : ffc::kLowHighMinimumImages;
    if (usable.profiles.size() >= needed) return;
    if (settings.imageWidth == 0) {
        throw Error(ErrorReason::kTooFewImages, "none of the " + std::to_string(list.images.size()) + " file(s) in " +
                                                    list.source + " is an image the library can use: " +
                                                    SomeNames(usable.unusable));
    }
    std::string message = std::to_string(usable.profiles.size()) + " image(s) of " +
                          SizeText(settings.imageHeight, settings.imageWidth) + " in " + list.source + ", where the " +
                          RunName(settings.run) + " run needs " + std::to_string(needed);
    if (!usable.otherSize.empty()) message += "; of other sizes: " + SomeNames(usable.otherSize);
    if (!usable.unusable.empty()) message += "; not usable: " + SomeNames(usable.unusable);
    throw Error(ErrorReason::kTooFewImages, message);
}

ffc::RunOutcome Run(FlatFieldCorrectionInstance& instance, std::vector<std::vector<float>> profiles,
                    const Settings& settings) {
    if (settings.run == CalibrationRun::kCurrent) {
        return ffc::RunCurrentGeneration(instance, std::move(profiles), settings.columnGroups,
                                         settings.significantDigits);
    }
    if (settings.run == CalibrationRun::kPrevious) {
        return ffc::RunPreviousGeneration(instance, std::move(profiles), settings.columnGroups,
                                          settings.significantDigits);
    }
    return ffc::RunSegmented(instance, profiles, settings.columnGroups, settings.significantDigits);
}

// The light levels below saturation the run's images span, in whole gray
// levels. The low/high runs report one image per level they told apart, none
// saturated; the segmented run reports every image, told apart here.
std::vector<int32_t> LevelsSpanned(const ffc::RunOutcome& outcome, CalibrationRun run) {
    std::vector<int32_t> whole;
    if (run != CalibrationRun::kSegmented) {
        for (float level : outcome.levels) whole.push_back(static_cast<int32_t>(level));
        return whole;
    }
    for (float level : outcome.levels) {
        if (level < 255.0f) whole.push_back(static_cast<int32_t>(level));
    }
    std::sort(whole.begin(), whole.end());
    whole.erase(std::unique(whole.begin(), whole.end()), whole.end());
    return whole;
}

// The interface's own rule: images that do not span a range of light levels
// are refused by every run. The library's previous-generation and segmented
// runs go on with such images (the segmented one even with saturated images)
// and return coefficients that correct nothing, which a line should not
// receive as a success.
void RequireARangeOfLevels(const ffc::RunOutcome& outcome, CalibrationRun run) {
    const std::vector<int32_t> levels = LevelsSpanned(outcome, run);
    if (outcome.status == ffc::RunStatus::kAllSaturated || levels.empty()) {
        throw Error(ErrorReason::kAllSaturated,
                    "every image is saturated (gray 255) at the reference columns: lower the light or the exposure");
    }
    if (levels.size() == 1) {
        throw Error(ErrorReason::kNoBrightnessRange,
                    "every usable image is at gray level " + std::to_string(levels.front()) +
                        " at the reference columns: the images must span a range of light levels (is the light on?)");
    }
}

// Every way a run can stop, as a reason.
void RequireRunCalibrated(const ffc::RunOutcome& outcome, CalibrationRun run) {
    RequireARangeOfLevels(outcome, run);
    switch (outcome.status) {
        case ffc::RunStatus::kCalibrated:
        case ffc::RunStatus::kSomeColumnsWithoutTwoPieces:  // told as a warning, from the results
            return;
        case ffc::RunStatus::kAllSaturated:  // refused above
        case ffc::RunStatus::kOutputGainNotFinite:
            break;
    }
    throw Error(ErrorReason::kNoBrightnessRange,
                "the fits give no usable output gain: at both ends of the fitting range most columns give the "
                "same value, so the images do not span a usable range of light levels");
}

// Checked before any image is read: the identity costs nothing to check.
void RequireKeptCamera(const Settings& settings) {
    const std::string problem = CameraIdentityProblem(settings.camera);
    if (!problem.empty()) throw Error(ErrorReason::kInvalidSettings, problem);
}

Calibration Calibrate(ImageList list, const Settings& requested, std::vector<std::string>* warningsOut) {
    const Settings settings = ResolveSettings(requested, list);
    std::vector<std::string> warnings;
    UsableImages usable = SortOut(list, settings, warnings);
    RequireEnoughImages(usable, list, settings);

    FlatFieldCorrectionInstance instance;
    instance.imageFolder = list.inMemory ? std::string() : list.source;
    instance.referenceColumns = settings.referenceColumns;
    instance.imageHeight = settings.imageHeight;
    instance.imageWidth = settings.imageWidth;
    const ffc::RunOutcome outcome = Run(instance, std::move(usable.profiles), settings);
    RequireRunCalibrated(outcome, settings.run);
    Results made;
    made.run = settings.run;
    made.significantDigits = settings.significantDigits;
    made.columnGroups = settings.columnGroups;
    made.camera = KeptCameraIdentity(settings.camera);
    // The low/high runs report the range they fitted in; the segmented run has none.
    if (outcome.range) {
        made.fitLowBound = outcome.range->lowBound;
        made.fitHighBound = outcome.range->highBound;
    }
    Calibration calibration = MakeCalibration(std::move(instance), std::move(made));
    const std::vector<int32_t> incomplete = calibration.results().IncompleteColumns();
    if (!incomplete.empty()) {
        warnings.push_back(std::to_string(incomplete.size()) + " of " +
                           std::to_string(settings.referenceColumns.size()) +
                           " listed columns have no two-piece fit (fewer than 10 images on a side of their window), "
                           "e.g. column " + std::to_string(incomplete.front()));
    }
    if (warningsOut != nullptr) *warningsOut = std::move(warnings);
    return calibration;
}

}  // namespace

Calibration CalibrateFolder(const std::string& folder, const Settings& settings, std::vector<std::string>* warnings) {
    RequireKeptCamera(settings);
    return Calibrate(ReadFolderImages(folder), settings, warnings);
}

Calibration CalibrateImages(const std::vector<cv::Mat>& images, const Settings& settings,
                            std::vector<std::string>* warnings) {
    RequireKeptCamera(settings);
    return Calibrate(ProfileImages(images), settings, warnings);
}

}  // namespace vyrffc
