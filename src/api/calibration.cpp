// The Calibration object: its results, the instance made from them, and
// correction in bands of rows on several threads.
#include <algorithm>
#include <exception>
#include <stdexcept>
#include <thread>
#include <utility>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"
#include "correct/correction.h"
#include "instance/column_readers.h"

namespace vyrffc {

namespace {

// A run's calibration has no hole candidates, so mode 4 fails at the first
// raw 255 the fill reaches; name one so the user can find it.
std::string FirstSaturatedPixel(const cv::Mat& input) {
    std::vector<cv::Point> points;
    cv::findNonZero(input == 255, points);
    if (points.empty()) return "a pixel";
    return "the pixel at row " + std::to_string(points.front().y) + ", column " + std::to_string(points.front().x);
}

// A row whose every pixel is dark takes its first value from the row before,
// so a band must not start on one; every other row starts afresh.
bool RowIsAllDark(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, int row) {
    const uint8_t* pixels = input.ptr<uint8_t>(row);
    for (int c = 0; c < input.cols; ++c) {
        if (pixels[c] != 0 || !ffc::ColumnIsFlagged(instance, c)) return false;
    }
    return true;
}

// First rows of the bands, and the row count at the end.
std::vector<int> BandStarts(const FlatFieldCorrectionInstance& instance, const cv::Mat& input, int threads) {
    constexpr int kFewestRowsPerBand = 16;
    const int bands = std::max(1, std::min(threads, input.rows / kFewestRowsPerBand));
    std::vector<int> starts = {0};
    for (int b = 1; b < bands; ++b) {
        int start = static_cast<int>(static_cast<int64_t>(input.rows) * b / bands);
        start = std::max(start, starts.back() + 1);
        while (start < input.rows && RowIsAllDark(instance, input, start)) ++start;
        if (start < input.rows) starts.push_back(start);
    }
    starts.push_back(input.rows);
    return starts;
}

[[noreturn]] void ThrowCorrectionFailure(const std::exception& error, const cv::Mat& input, int mode) {
    const std::string what = error.what();
    if (what == "Vector is empty" && mode == 4) {
        throw Error(ErrorReason::kNoHoleCandidate,
                    "mode 4 cannot correct " + FirstSaturatedPixel(input) +
                        ": it reads 255, which the mapping tables leave as a hole, and the calibration holds no "
                        "candidate values for holes; use another mode or an image without saturated pixels");
    }
    if (what == "Vector is empty") {
        throw Error(ErrorReason::kDarkRangeMissing,
                    "a dark pixel lies in a column without a dark range; the calibration is incomplete");
    }
    throw;
}

}  // namespace

Calibration::Calibration(std::shared_ptr<const State> state) : state_(std::move(state)) {}

Generation Calibration::generation() const {
    return state_->results.run == CalibrationRun::kPrevious ? Generation::kPrevious : Generation::kCurrent;
}

void Calibration::Correct(const cv::Mat& input, cv::Mat& output, int mode, int threads) const {
    Correct(input, output, mode, generation(), threads);
}

void Calibration::Correct(const cv::Mat& input, cv::Mat& output, int mode, Generation generation,
                          int threads) const {
    const FlatFieldCorrectionInstance& instance = state_->instance;
    if (input.empty() || input.type() != CV_8UC1) {
        throw Error(ErrorReason::kImageUnusable, "the image to correct is not an 8-bit single-channel image");
    }
    if (input.cols != instance.imageWidth) {
        throw Error(ErrorReason::kImageUnusable, "the image is " + std::to_string(input.cols) +
                                                     " columns wide, the calibration is for " +
                                                     std::to_string(instance.imageWidth));
    }
    const ffc::Generation rule = generation == Generation::kPrevious ? ffc::Generation::kPrevious
                                                                     : ffc::Generation::kCurrent;
    const bool tables = mode == 4 || (mode == 5 && rule == ffc::Generation::kPrevious);
    if (tables && instance.columnLuts.empty()) {
        throw Error(ErrorReason::kModeUnavailable, "mode " + std::to_string(mode) +
                                                       " maps through the mapping tables, which the " +
                                                       "segmented calibration does not make; use mode 0 or 1");
    }
    // Written in place only when the bands can write into it as it is.
    if (output.rows != input.rows || output.cols != input.cols || output.type() != CV_8UC1 ||
        output.data == input.data) {
        output = cv::Mat(input.rows, input.cols, CV_8UC1);
    }
    if (threads <= 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    const std::vector<int> starts = BandStarts(instance, input, threads);
    const size_t bands = starts.size() - 1;
    std::vector<std::exception_ptr> failures(bands);
    std::vector<char> filled(bands, 1);
    auto correctBand = [&](size_t b) {
        try {
            const cv::Mat in = input.rowRange(starts[b], starts[b + 1]);
            cv::Mat out = output.rowRange(starts[b], starts[b + 1]);
            filled[b] = ffc::CorrectImage(&instance, &in, &out, mode, rule);
        } catch (...) {
            failures[b] = std::current_exception();
        }
    };
    std::vector<std::thread> workers;
    for (size_t b = 1; b < bands; ++b) workers.emplace_back(correctBand, b);
    correctBand(0);
    for (std::thread& worker : workers) worker.join();
    for (const std::exception_ptr& failure : failures) {
        if (!failure) continue;
        try {
            std::rethrow_exception(failure);
        } catch (const std::invalid_argument& error) {
            ThrowCorrectionFailure(error, input, mode);
        }
    }
    if (std::find(filled.begin(), filled.end(), 0) != filled.end()) {
        throw Error(ErrorReason::kUnfillableRow,
                    "mode 4 met a row in which no pixel maps through the tables (every pixel saturated), so its "
                    "holes cannot be filled");
    }
}

// The fields an instance and the results share, copied from one to the other,
// or moved when `from` is an rvalue.
template <class From, class To>
void TransferFields(From&& from, To& to) {
    to.referenceColumns = std::forward<From>(from).referenceColumns;
    to.imageHeight = from.imageHeight;
    to.imageWidth = from.imageWidth;
    to.columnLuts = std::forward<From>(from).columnLuts;
    to.columnFlags = std::forward<From>(from).columnFlags;
    to.columnDarkRanges = std::forward<From>(from).columnDarkRanges;
    to.quadCoeffs = std::forward<From>(from).quadCoeffs;
    to.cubicCoeffs = std::forward<From>(from).cubicCoeffs;
    to.quadGain = from.quadGain;
    to.quadOffset = from.quadOffset;
    to.cubicGain = from.cubicGain;
    to.cubicOffset = from.cubicOffset;
    to.realQuadGain = from.realQuadGain;
    to.realCubicGain = from.realCubicGain;
    to.rangeGain = from.rangeGain;
    to.segQuadCoeffs = std::forward<From>(from).segQuadCoeffs;
    to.segQuadBreaks = std::forward<From>(from).segQuadBreaks;
    to.segCubicCoeffs = std::forward<From>(from).segCubicCoeffs;
    to.segCubicBreaks = std::forward<From>(from).segCubicBreaks;
}

const Results& Calibration::results() const {
    std::call_once(state_->resultsMade, [this] {
        Results r = state_->settings;
        TransferFields(state_->instance, r);
        state_->results = std::move(r);
    });
    return state_->results;
}

Calibration MakeCalibration(FlatFieldCorrectionInstance instance, Results settings) {
    auto state = std::make_shared<Calibration::State>();
    state->instance = std::move(instance);
    state->settings.run = settings.run;
    state->settings.significantDigits = settings.significantDigits;
    state->settings.columnGroups = std::move(settings.columnGroups);
    state->settings.fitLowBound = settings.fitLowBound;
    state->settings.fitHighBound = settings.fitHighBound;
    return Calibration(std::move(state));
}

Calibration MakeCalibration(Results results) {
    FlatFieldCorrectionInstance instance;
    TransferFields(std::move(results), instance);
    return MakeCalibration(std::move(instance), std::move(results));
}

std::vector<int32_t> Results::IncompleteColumns() const {
    std::vector<int32_t> columns;
    if (run != CalibrationRun::kSegmented) return columns;
    for (int32_t column : referenceColumns) {
        if (column < 0 || static_cast<size_t>(column) >= segQuadBreaks.size()) continue;
        const auto zero = [](const std::vector<std::vector<float>>& pieces) {
            return pieces.empty() ||
                   std::all_of(pieces.back().begin(), pieces.back().end(), [](float v) { return v == 0.0f; });
        };
        if ((segQuadBreaks[column] == 256 && zero(segQuadCoeffs[column])) ||
            (segCubicBreaks[column] == 256 && zero(segCubicCoeffs[column]))) {
            columns.push_back(column);
        }
    }
    return columns;
}

}  // namespace vyrffc
