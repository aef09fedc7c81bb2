#include "calibration.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <filesystem>
#include <iostream>

#include "column_ranges.h"
#include "tool_error.h"

namespace cisffc {

namespace {

std::string SizeText(int32_t height, int32_t width) {
    return std::to_string(width) + "x" + std::to_string(height);
}

void CheckColumnsInImage(const CalibrationSettings& settings) {
    const int32_t width = settings.imageWidth;
    for (int32_t column : settings.referenceColumns) {
        if (column >= width) {
            FailRun("reference column " + std::to_string(column) + " lies outside the " + std::to_string(width) +
                    "-column image");
        }
    }
    for (size_t g = 0; g < settings.columnGroups.size(); ++g) {
        for (int32_t column : settings.columnGroups[g]) {
            if (column >= width) {
                FailRun("column group " + std::to_string(g + 1) + " holds column " + std::to_string(column) +
                        ", outside the " + std::to_string(width) + "-column image");
            }
        }
    }
}

std::string SkippedText(const ImageCounts& counts) {
    std::string text;
    if (!counts.wrongSize.empty()) {
        text += std::to_string(counts.wrongSize.size()) + " of another size (e.g. " + counts.wrongSize.front() + ")";
    }
    if (!counts.unreadable.empty()) {
        text += (text.empty() ? "" : ", ") + std::to_string(counts.unreadable.size()) + " unreadable (e.g. " +
                counts.unreadable.front() + ")";
    }
    return text.empty() ? "" : "; skipped " + text;
}

// The library gives no reason for a rejected run; the folder usually shows it.
[[noreturn]] void ExplainRejectedRun(const Calibration& calibration) {
    const CalibrationSettings& settings = calibration.settings;
    const ImageCounts& counts = calibration.counts;
    const std::string pattern = calibration.scan.folder + "*.bmp";
    if (counts.found == 0) {
        FailRun("no file matches \"" + pattern + "\"");
    }
    const int minimum = MinimumImages(settings.run);
    if (counts.used < minimum) {
        FailRun(std::to_string(counts.used) + " image(s) of " + SizeText(settings.imageHeight, settings.imageWidth) +
                " match \"" + pattern + "\", the " + RunName(settings.run) + " calibration needs at least " +
                std::to_string(minimum) + SkippedText(counts));
    }
    bool allSaturated = true;
    for (const ImageFile& file : calibration.scan.files) {
        if (file.readable && file.rows == settings.imageHeight && file.cols == settings.imageWidth &&
            !IsSaturated(file.columnMeans, settings.referenceColumns)) {
            allSaturated = false;
        }
    }
    if (allSaturated) {
        FailRun("every image is saturated (gray 255 at every reference column): lower the light or exposure");
    }
    FailRun(std::string("the library rejected the ") + RunName(settings.run) +
            " calibration, and the folder shows no reason for it");
}

void ReadResults(Calibration& calibration) {
    FlatFieldCorrectionInstance* instance = calibration.instance.get();
    switch (calibration.settings.run) {
    case RunKind::Current:
        GetFlatFieldCorrectionPolyval_NewNew(instance, &calibration.quadCoeffs, &calibration.cubicCoeffs,
                                             &calibration.columnFlags, &calibration.columnDarkRanges,
                                             &calibration.quadGain, &calibration.quadOffset, &calibration.cubicGain,
                                             &calibration.cubicOffset);
        Return_realcoeffgain(instance, &calibration.realQuadGain, &calibration.realCubicGain);
        break;
    case RunKind::Previous:
        GetFlatFieldCorrectionPolyval_New(instance, &calibration.quadCoeffs, &calibration.cubicCoeffs,
                                          &calibration.columnFlags, &calibration.columnDarkRanges,
                                          &calibration.rangeGain);
        break;
    case RunKind::Segmented:
        // The segmented run writes only the coefficients of the shared fields;
        // the flags and dark ranges belong to the low/high runs.
        GetFlatFieldCorrectionPolyval_NewNew(instance, &calibration.quadCoeffs, &calibration.cubicCoeffs, nullptr,
                                             nullptr, nullptr, nullptr, nullptr, nullptr);
        GetFlatFieldCorrectionPolyval_Seg_2(instance, &calibration.segmentPieces, &calibration.segmentBreaks);
        break;
    }
}

}  // namespace

const char* RunName(RunKind run) {
    switch (run) {
    case RunKind::Current: return "current";
    case RunKind::Previous: return "previous";
    case RunKind::Segmented: return "segmented";
    }
    return "?";
}

int MinimumImages(RunKind run) { return run == RunKind::Segmented ? 10 : 4; }

std::vector<int32_t> DefaultReferenceColumns(RunKind run, int32_t width) {
    if (run == RunKind::Segmented) {
        return ExpandRanges({{0, width - 1}});
    }
    return ExpandRanges({{2 * width / 5, std::max(2 * width / 5, 3 * width / 5 - 1)}});
}

std::vector<int32_t> Calibration::incompleteColumns() const {
    std::vector<int32_t> columns;
    const std::vector<int32_t>& listed = settings.referenceColumns;
    for (int32_t column : listed) {
        if (static_cast<size_t>(column) < segmentBreaks.size() && segmentBreaks[column] == 256) {
            const std::vector<float>& upper = segmentPieces[column].back();
            if (std::all_of(upper.begin(), upper.end(), [](float v) { return v == 0.0f; })) {
                columns.push_back(column);
            }
        }
    }
    return columns;
}

CalibrationSettings ResolveSettings(CalibrationSettings settings, const FolderScan& scan) {
    if (settings.imageWidth == 0 || settings.imageHeight == 0) {
        MajoritySize(scan, &settings.imageHeight, &settings.imageWidth);
    }
    const int32_t width = settings.imageWidth;
    if (width == 0) {
        return settings;  // nothing readable: the run fails and the folder explains why
    }
    if (settings.referenceColumns.empty()) {
        settings.referenceColumns = DefaultReferenceColumns(settings.run, width);
    }
    if (settings.run == RunKind::Segmented) {
        // The segmented run walks its list in ascending order only.
        std::sort(settings.referenceColumns.begin(), settings.referenceColumns.end());
        settings.referenceColumns.erase(
            std::unique(settings.referenceColumns.begin(), settings.referenceColumns.end()),
            settings.referenceColumns.end());
    }
    if (settings.columnGroups.empty()) {
        if (settings.groupWidth > width) {
            FailRun("the group width " + std::to_string(settings.groupWidth) + " exceeds the " +
                    std::to_string(width) + "-column image");
        }
        settings.columnGroups = ConsecutiveGroups(width, settings.groupWidth);
    }
    if (settings.run == RunKind::Segmented) {
        for (size_t g = 0; g < settings.columnGroups.size(); ++g) {
            if (settings.columnGroups[g].size() < 4) {
                FailUsage("column group " + std::to_string(g + 1) +
                          " has fewer than 4 columns; the segmented calibration needs 4 per group");
            }
        }
    }
    CheckColumnsInImage(settings);
    return settings;
}

Calibration Calibrate(const std::string& folderArgument, const CalibrationSettings& settings) {
    Calibration calibration;
    calibration.scan = ScanFolder(folderArgument);
    if (calibration.scan.separatorMattered) {
        std::cerr << "note: added the trailing '/' to " << folderArgument << " (the calibration images are "
                  << calibration.scan.folder << "*.bmp)\n";
    }
    calibration.settings = ResolveSettings(settings, calibration.scan);
    const CalibrationSettings& resolved = calibration.settings;
    calibration.counts = CountImages(calibration.scan, resolved.imageHeight, resolved.imageWidth);

    FlatFieldCorrectionInstance* instance = nullptr;
    CreateFlatFieldCorrectionInstance(&instance);
    calibration.instance.reset(instance);
    if (!SetFlatFieldCorrectionParameters(instance, calibration.scan.folder, resolved.referenceColumns,
                                          resolved.imageHeight, resolved.imageWidth)) {
        FailRun("the folder " + folderArgument + " does not exist");
    }
    const auto start = std::chrono::steady_clock::now();
    switch (resolved.run) {
    case RunKind::Current:
        calibration.succeeded = RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(
            instance, resolved.significantDigits, resolved.columnGroups);
        break;
    case RunKind::Previous:
        calibration.succeeded = RunFlatFieldCorrectionTool_lowhigh_map_simple_New(
            instance, resolved.significantDigits, resolved.columnGroups);
        break;
    case RunKind::Segmented:
        calibration.succeeded =
            RunFlatFieldCorrectionTool_autosegment(instance, resolved.significantDigits, resolved.columnGroups);
        break;
    }
    calibration.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ReadResults(calibration);
    // A segmented run that stopped before writing leaves its fields empty; one
    // that wrote everything but missed columns is reported by the caller.
    const bool resultsWritten = resolved.run == RunKind::Segmented &&
                                calibration.segmentBreaks.size() == static_cast<size_t>(resolved.imageWidth);
    if (!calibration.succeeded && !resultsWritten) {
        ExplainRejectedRun(calibration);
    }
    return calibration;
}

TestFunction DefaultTestFunction(RunKind run) {
    return run == RunKind::Previous ? TestFunction::Previous : TestFunction::Current;
}

cv::Mat CorrectImage(const Calibration& calibration, TestFunction test, int32_t mode, const cv::Mat& raw,
                     const std::string& imageName) {
    if (raw.cols != calibration.settings.imageWidth) {
        FailRun(imageName + " is " + std::to_string(raw.cols) + " columns wide, the calibration is for " +
                std::to_string(calibration.settings.imageWidth));
    }
    cv::Mat corrected;
    bool ok = false;
    try {
        ok = test == TestFunction::Current
                 ? TestFlatFieldCorrectionTool_NewNew(calibration.instance.get(), &raw, &corrected, mode)
                 : TestFlatFieldCorrectionTool(calibration.instance.get(), &raw, &corrected, mode);
    } catch (const std::exception& error) {
        FailRun("correcting " + imageName + " in mode " + std::to_string(mode) + " failed: " + error.what());
    }
    if (!ok) {
        FailRun("the library rejected " + imageName + " in mode " + std::to_string(mode));
    }
    return corrected;
}

}  // namespace cisffc
