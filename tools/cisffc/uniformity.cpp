#include "uniformity.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "images.h"
#include "tool_error.h"

namespace cisffc {

std::vector<FlatImage> LoadFlatImages(const std::vector<std::string>& paths, int32_t width) {
    std::vector<FlatImage> flats;
    for (const std::string& path : paths) {
        FlatImage flat;
        flat.name = std::filesystem::path(path).filename().string();
        flat.raw = ReadCorrectable(path, width);
        flat.columnMeans = ColumnMeans(flat.raw);
        flats.push_back(std::move(flat));
    }
    return flats;
}

std::vector<float> ColumnMeans(const cv::Mat& image) {
    cv::Mat asFloat, means;
    image.convertTo(asFloat, CV_32F);
    cv::reduce(asFloat, means, 0, cv::REDUCE_AVG);
    return {means.ptr<float>(0), means.ptr<float>(0) + means.cols};
}

Uniformity MeasureUniformity(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns) {
    Uniformity result;
    if (columns.empty()) return result;
    double sum = 0.0, low = std::numeric_limits<double>::infinity(), high = -low;
    size_t saturated = 0;
    for (int32_t c : columns) {
        sum += columnMeans[c];
        low = std::min<double>(low, columnMeans[c]);
        high = std::max<double>(high, columnMeans[c]);
        saturated += columnMeans[c] >= 255.0f ? 1 : 0;
    }
    result.mean = sum / columns.size();
    double squares = 0.0;
    for (int32_t c : columns) squares += (columnMeans[c] - result.mean) * (columnMeans[c] - result.mean);
    result.deviation = std::sqrt(squares / columns.size());
    result.nonUniformity =
        result.mean > 0.0 ? result.deviation / result.mean : std::numeric_limits<double>::quiet_NaN();
    result.peakToPeak = high - low;
    result.clipped = saturated * 50 > columns.size();
    return result;
}

GrayRange FittingRange(const vyrffc::Results& results) {
    if (results.fitHighBound > results.fitLowBound) return {results.fitLowBound, results.fitHighBound};
    return {};
}

std::vector<int32_t> ColumnsInFittingRange(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns,
                                           GrayRange range) {
    std::vector<int32_t> inside;
    for (int32_t c : columns) {
        if (columnMeans[c] > range.low && columnMeans[c] < range.high) inside.push_back(c);
    }
    return inside;
}

bool InFittingRange(const std::vector<float>& columnMeans, const std::vector<int32_t>& columns, GrayRange range) {
    return !columns.empty() && ColumnsInFittingRange(columnMeans, columns, range).size() * 100 >= columns.size() * 98;
}

namespace {

// The flat image the sensor figures come from; -1 for none, or for images
// of a single row, which hold no temporal variance to measure.
int FigureFlat(const std::vector<FlatImage>& flats, const FlatImage& dark, const std::vector<int32_t>& columns) {
    try {
        std::vector<vyrffc::LineStatistics> statistics;
        for (const FlatImage& flat : flats) statistics.push_back(vyrffc::MeasureLine(flat.raw, columns));
        return vyrffc::NearestHalfSaturation(statistics, vyrffc::MeasureLine(dark.raw, columns));
    } catch (const vyrffc::Error&) {
        return -1;
    }
}

// Measures every flat image before and after `correct`; an image the mode
// cannot correct is counted and the first reason kept.
CorrectionOutcome Evaluate(const Calibration& calibration, const std::string& label,
                           const std::function<cv::Mat(const FlatImage&)>& correct,
                           const std::vector<FlatImage>& flats, const FlatImage* dark) {
    CorrectionOutcome outcome;
    outcome.label = label;
    outcome.fittingRange = FittingRange(calibration.results());
    for (size_t c = 0; c < calibration.results().columnFlags.size(); ++c) {
        if (calibration.results().columnFlags[c] != 0) outcome.flaggedColumns.push_back(static_cast<int32_t>(c));
    }
    outcome.calibrationSeconds = calibration.seconds;
    // The segmented run corrects only the columns it was given.
    const vyrffc::Results& results = calibration.results();
    if (results.run == RunKind::kSegmented) {
        outcome.columns = results.referenceColumns;
    } else {
        for (int32_t c = 0; c < results.imageWidth; ++c) outcome.columns.push_back(c);
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    auto failed = [&](const ToolError& error) {
        if (outcome.failure.empty()) outcome.failure = error.what();
        ++outcome.failures;
    };
    if (dark != nullptr) outcome.figureFlat = FigureFlat(flats, *dark, outcome.columns);
    // Kept through optional's constructors alone, which the Windows build's
    // OpenCV import list already holds.
    std::optional<cv::Mat> figureFlat;
    for (size_t i = 0; i < flats.size(); ++i) {
        const FlatImage& flat = flats[i];
        outcome.raw.push_back(MeasureUniformity(flat.columnMeans, outcome.columns));
        outcome.inRange.push_back(InFittingRange(flat.columnMeans, outcome.columns, outcome.fittingRange));
        const std::vector<int32_t> fitted =
            ColumnsInFittingRange(flat.columnMeans, outcome.columns, outcome.fittingRange);
        outcome.rawFitted.push_back(MeasureUniformity(flat.columnMeans, fitted));
        const auto start = std::chrono::steady_clock::now();
        try {
            const cv::Mat corrected = correct(flat);
            outcome.correctionSeconds +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            outcome.correctedMeans.push_back(ColumnMeans(corrected));
            outcome.corrected.push_back(MeasureUniformity(outcome.correctedMeans.back(), outcome.columns));
            outcome.correctedFitted.push_back(MeasureUniformity(outcome.correctedMeans.back(), fitted));
            if (static_cast<int>(i) == outcome.figureFlat) figureFlat.emplace(corrected);
        } catch (const ToolError& error) {
            failed(error);
            outcome.correctedMeans.emplace_back(flat.columnMeans.size(), static_cast<float>(nan));
            outcome.corrected.push_back({nan, nan, nan, nan});
            outcome.correctedFitted.push_back({nan, nan, nan, nan});
        }
    }
    if (dark != nullptr) {
        outcome.hasDark = true;
        outcome.rawDark = MeasureUniformity(dark->columnMeans, outcome.columns);
        std::optional<cv::Mat> correctedDark;
        try {
            correctedDark.emplace(correct(*dark));
            outcome.correctedDark = MeasureUniformity(ColumnMeans(*correctedDark), outcome.columns);
        } catch (const ToolError& error) {
            failed(error);
            outcome.correctedDark = {nan, nan, nan, nan};
        }
        if (outcome.figureFlat >= 0) {
            outcome.rawFigures = vyrffc::MeasureSensorFigures(flats[outcome.figureFlat].raw, dark->raw, outcome.columns);
            if (figureFlat && correctedDark) {
                outcome.correctedFigures = vyrffc::MeasureSensorFigures(*figureFlat, *correctedDark, outcome.columns);
            }
        }
    }
    return outcome;
}

// A gray value of a two-piece curve: the lower piece below the breakpoint, the
// upper piece from it on, summed in double and clamped to 0..255.
uint8_t TwoPieceGray(const std::vector<std::vector<float>>& pieces, int32_t breakpoint, int raw) {
    const std::vector<float>& piece = raw < breakpoint ? pieces.front() : pieces.back();
    double sum = 0.0;
    double power = 1.0;
    for (float coefficient : piece) {
        sum += coefficient * power;
        power *= raw;
    }
    return static_cast<uint8_t>(std::clamp(std::trunc(sum), 0.0, 255.0));
}

}  // namespace

CorrectionOutcome EvaluateCorrection(const Calibration& calibration, TestFunction test, int32_t mode,
                                     const std::vector<FlatImage>& flats, const FlatImage* dark) {
    CorrectionOutcome outcome = Evaluate(
        calibration, std::string(RunName(calibration.results().run)) + " mode " + ModeName(mode),
        [&](const FlatImage& flat) {
            cv::Mat corrected;
            CorrectImage(calibration, test, mode, flat.raw, corrected, flat.name);
            return corrected;
        },
        flats, dark);
    outcome.mode = mode;
    return outcome;
}

CorrectionOutcome EvaluateTwoPieces(const Calibration& calibration, const std::vector<FlatImage>& flats) {
    const vyrffc::Results& results = calibration.results();
    const int32_t width = results.imageWidth;
    if (results.segQuadBreaks.size() != static_cast<size_t>(width)) {
        FailRun("the calibration holds no two-piece fits");
    }
    // One 256-entry table per column, then a table lookup per pixel.
    cv::Mat tables(width, 256, CV_8UC1);
    for (int32_t c = 0; c < width; ++c) {
        for (int raw = 0; raw < 256; ++raw) {
            tables.at<uint8_t>(c, raw) =
                TwoPieceGray(results.segQuadCoeffs[c], results.segQuadBreaks[c], raw);
        }
    }
    return Evaluate(
        calibration, "segmented 2-piece",
        [&](const FlatImage& flat) {
            if (flat.raw.cols != width) FailRun(flat.name + " does not match the calibration's width");
            cv::Mat corrected(flat.raw.size(), CV_8UC1);
            for (int r = 0; r < flat.raw.rows; ++r) {
                for (int32_t c = 0; c < width; ++c) {
                    corrected.at<uint8_t>(r, c) = tables.at<uint8_t>(c, flat.raw.at<uint8_t>(r, c));
                }
            }
            return corrected;
        },
        flats, nullptr);
}

OutcomeSummary Summarize(const CorrectionOutcome& outcome) {
    OutcomeSummary summary;
    for (size_t i = 0; i < outcome.inRange.size(); ++i) {
        if (!outcome.inRange[i]) continue;
        if (outcome.corrected[i].clipped) {
            ++summary.clipped;
            continue;
        }
        ++summary.images;
        const double corrected = outcome.correctedFitted[i].nonUniformity;
        summary.rawNonUniformity += outcome.rawFitted[i].nonUniformity;
        summary.correctedNonUniformity += corrected;
        summary.correctedPeakToPeak += outcome.correctedFitted[i].peakToPeak;
        summary.correctedAllColumns += outcome.corrected[i].nonUniformity;
        // A failed correction (NaN) makes the worst case NaN for good.
        if (!std::isnan(summary.worstCorrected) && !(corrected <= summary.worstCorrected)) {
            summary.worstCorrected = corrected;
        }
    }
    if (summary.images > 0) {
        summary.rawNonUniformity /= summary.images;
        summary.correctedNonUniformity /= summary.images;
        summary.correctedPeakToPeak /= summary.images;
        summary.correctedAllColumns /= summary.images;
    }
    return summary;
}

int BestOutcome(const std::vector<CorrectionOutcome>& outcomes) {
    int best = -1;
    double lowest = 0.0;
    for (size_t k = 0; k < outcomes.size(); ++k) {
        if (outcomes[k].failures > 0) continue;
        const OutcomeSummary summary = Summarize(outcomes[k]);
        if (summary.images == 0 || !(summary.correctedNonUniformity >= 0.0)) continue;
        if (best < 0 || summary.correctedNonUniformity < lowest) {
            best = static_cast<int>(k);
            lowest = summary.correctedNonUniformity;
        }
    }
    return best;
}

std::vector<FlatImage> LoadCalibrationImages(const std::string& folder, const vyrffc::Results& results) {
    std::vector<FlatImage> images;
    for (const std::string& path : ListBitmaps(folder)) {
        try {
            FlatImage image = std::move(LoadFlatImages({path}, results.imageWidth).front());
            if (image.raw.rows == results.imageHeight) images.push_back(std::move(image));
        } catch (const ToolError&) {
        }
    }
    return images;
}

std::string ModeName(int32_t mode) { return std::to_string(mode); }

}  // namespace cisffc
