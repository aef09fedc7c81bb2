// The Calibration object: its results, the instance made from them, and
// correction in bands of rows on several threads.
#include <algorithm>
#include <atomic>
#include <exception>
#include <functional>
#include <optional>
#include <thread>
#include <utility>

#include <opencv2/core.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_state.h"
#include "api/settings.h"
#include "correct/correction.h"
#include "correct/fill_choices.h"
#include "instance/column_readers.h"

namespace vyrffc {

namespace {

// More threads than this only add stacks: no image has that many bands worth
// a thread of their own.
constexpr int kMostThreads = 256;

int ThreadsToUse(int threads) {
    if (threads < 0) {
        throw Error(ErrorReason::kInvalidSettings,
                    "the thread count is " + std::to_string(threads) + "; use 0 (one per core) or more");
    }
    if (threads == 0) threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    return std::min(threads, kMostThreads);
}

// "mode 6 (quadratic-dark-forward)"
std::string ModeText(int mode) { return "mode " + std::to_string(mode) + " (" + ModeName(mode) + ")"; }

// "0, 1 and 4", or with the names: "0 (quadratic), 1 (cubic) and 4 (table)"
std::string ModeList(const std::vector<int>& modes, bool named = false) {
    std::string text;
    for (size_t i = 0; i < modes.size(); ++i) {
        if (i > 0) text += i + 1 == modes.size() ? " and " : ", ";
        text += std::to_string(modes[i]);
        if (named) text += std::string(" (") + ModeName(modes[i]) + ")";
    }
    return text;
}

const char* RuleName(Generation generation) {
    return generation == Generation::kPrevious ? "previous-generation" : "current-generation";
}

// The twelve functions take any other number as mode 7; a caller of this
// interface who passes 2 has made a slip, not chosen mode 7.
void RequireAMode(int mode) {
    if (ModeName(mode) != nullptr) return;
    throw Error(ErrorReason::kInvalidSettings,
                std::to_string(mode) + " is not a correction mode; the modes are " + ModeList(AllModes(), true));
}

[[noreturn]] void ThrowModeUnavailable(CalibrationRun run, Generation generation, int mode) {
    throw Error(ErrorReason::kModeUnavailable,
                ModeText(mode) + " of the " + RuleName(generation) + " rule reads results the " +
                    RunName(run) + " run does not make (its image would come out constant or not at all); with "
                    "that rule this calibration serves modes " + ModeList(ServedModes(run, generation)));
}

// A run's calibration has no hole candidates, so mode 4 fails at the first
// raw 255 the fill reaches; name one so the user can find it.
std::string FirstSaturatedPixel(const cv::Mat& input) {
    std::vector<cv::Point> points;
    cv::findNonZero(input == 255, points);
    if (points.empty()) return "a pixel";
    return "the pixel at row " + std::to_string(points.front().y) + ", column " + std::to_string(points.front().x);
}

// What a correction that did not end in kCorrected tells the user.
void ThrowIfRefused(ffc::CorrectionStatus status, const FlatFieldCorrectionInstance& instance, CalibrationRun run,
                    const cv::Mat& input, int mode, Generation generation) {
    switch (status) {
        case ffc::CorrectionStatus::kCorrected:
            return;
        case ffc::CorrectionStatus::kWidthDiffers:
            if (input.empty()) throw Error(ErrorReason::kImageUnusable, "the image to correct is empty");
            throw Error(ErrorReason::kImageUnusable, "the image is " + std::to_string(input.cols) +
                                                         " columns wide, the calibration is for " +
                                                         std::to_string(instance.imageWidth));
        case ffc::CorrectionStatus::kNotGray:
            throw Error(ErrorReason::kImageUnusable, "the image to correct is not an 8-bit single-channel image");
        case ffc::CorrectionStatus::kTablesMissing:
            ThrowModeUnavailable(run, generation, mode);
        case ffc::CorrectionStatus::kUnfillableRow:
            throw Error(ErrorReason::kUnfillableRow,
                        "mode 4 met a row in which no pixel maps through the tables (every pixel saturated), so "
                        "its holes cannot be filled");
    }
}

// The error for a band that threw: which list the fill found empty.
[[noreturn]] void ThrowFillFailure(const std::exception_ptr& failure, const cv::Mat& input) {
    try {
        std::rethrow_exception(failure);
    } catch (const ffc::NoHoleCandidateError&) {
        throw Error(ErrorReason::kNoHoleCandidate,
                    "mode 4 cannot correct " + FirstSaturatedPixel(input) +
                        ": it reads 255, which the mapping tables leave as a hole, and the calibration holds no "
                        "candidate values for holes; use another mode or an image without saturated pixels");
    } catch (const ffc::NoDarkRangeError&) {
        throw Error(ErrorReason::kDarkRangeMissing,
                    "a dark pixel lies in a column without a dark range; the calibration is incomplete");
    }
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

// Runs band(0) .. band(count - 1), each once: the calling thread and every
// thread that starts take the next band until none is left, so the bands of
// a thread the system would not start are done by the others.
void RunBands(size_t count, const std::function<void(size_t)>& band, const ffc::ThreadStarter& start) {
    std::atomic<size_t> next{0};
    const std::function<void()> work = [&] {
        for (size_t b = next++; b < count; b = next++) band(b);
    };
    std::vector<std::thread> workers;
    workers.reserve(count - 1);
    for (size_t t = 1; t < count; ++t) {
        // Whatever keeps a thread from starting (a copy of `work` that cannot
        // be allocated, too) must not leave the started ones unjoined.
        std::optional<std::thread> worker;
        try {
            worker = start(work);
        } catch (...) {
        }
        if (!worker) break;  // the system is short of threads; asking again would not help
        workers.push_back(std::move(*worker));
    }
    work();
    for (std::thread& worker : workers) worker.join();
}

}  // namespace

ffc::Generation ToRule(Generation generation) {
    return generation == Generation::kPrevious ? ffc::Generation::kPrevious : ffc::Generation::kCurrent;
}

std::vector<int> ServedModes(CalibrationRun run, Generation generation) {
    // Modes 0 and 1 read only the polynomials, which every run writes; mode 4
    // the tables of the low/high runs. The gained modes read the gain of
    // their rule: quadGain and cubicGain only the current run sets, rangeGain
    // only the previous one, and the segmented run neither (nor the tables
    // that the previous rule's mode 5 maps through).
    if (run == CalibrationRun::kSegmented) return {0, 1};
    const bool ownRule = (run == CalibrationRun::kCurrent) == (generation == Generation::kCurrent);
    if (!ownRule) return {0, 1, 4};
    return {0, 1, 4, 5, 6, kDefaultMode};
}

std::vector<int> Calibration::Modes(Generation generation) const {
    return ServedModes(state_->settings.run, generation);
}

Calibration::Calibration(std::shared_ptr<const State> state) : state_(std::move(state)) {}

Generation Calibration::generation() const {
    return state_->settings.run == CalibrationRun::kPrevious ? Generation::kPrevious : Generation::kCurrent;
}

void Calibration::Correct(const cv::Mat& input, cv::Mat& output, int mode, int threads) const {
    Correct(input, output, mode, generation(), threads);
}

void Calibration::Correct(const cv::Mat& input, cv::Mat& output) const {
    Correct(input, output, DefaultMode(state_->settings.run, generation()), generation(), 0);
}

void Calibration::Correct(const cv::Mat& input, cv::Mat& output, int mode, Generation generation,
                          int threads) const {
    CorrectInBands(state_->instance, state_->settings.run, input, output, mode, generation, threads,
                   ffc::StartThread);
}

void CorrectInBands(const FlatFieldCorrectionInstance& instance, CalibrationRun run, const cv::Mat& given,
                    cv::Mat& output, int mode, Generation generation, int threads, const ffc::ThreadStarter& start) {
    // A header of its own: the caller may pass one Mat as input and output.
    const cv::Mat input = given;
    const int usable = ThreadsToUse(threads);
    RequireAMode(mode);
    const std::vector<int> served = ServedModes(run, generation);
    if (std::find(served.begin(), served.end(), mode) == served.end()) {
        ThrowModeUnavailable(run, generation, mode);
    }
    const ffc::Generation rule = ToRule(generation);
    ThrowIfRefused(ffc::CheckStart(instance, ffc::PlanCorrection(instance, rule, mode), input), instance, run, input,
                   mode, generation);
    // Written in place only when the bands can write into it as it is.
    if (output.data == input.data) output = cv::Mat();
    ffc::PrepareOutput(input, output);

    const std::vector<int> starts = BandStarts(instance, input, usable);
    const size_t bands = starts.size() - 1;
    std::vector<std::exception_ptr> failures(bands);
    std::vector<ffc::CorrectionStatus> statuses(bands, ffc::CorrectionStatus::kCorrected);
    RunBands(
        bands,
        [&](size_t b) {
            try {
                const cv::Mat in = input.rowRange(starts[b], starts[b + 1]);
                cv::Mat out = output.rowRange(starts[b], starts[b + 1]);
                statuses[b] = ffc::Correct(instance, in, out, mode, rule);
            } catch (...) {
                failures[b] = std::current_exception();
            }
        },
        start);
    for (const std::exception_ptr& failure : failures) {
        if (failure) ThrowFillFailure(failure, input);
    }
    for (ffc::CorrectionStatus status : statuses) ThrowIfRefused(status, instance, run, input, mode, generation);
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
    state->settings.camera = std::move(settings.camera);
    state->settings.setResiduals = std::move(settings.setResiduals);
    return Calibration(std::move(state));
}

FlatFieldCorrectionInstance MakeInstance(Results results) {
    FlatFieldCorrectionInstance instance;
    TransferFields(std::move(results), instance);
    return instance;
}

Calibration MakeCalibration(Results results) {
    Results settings;
    settings.run = results.run;
    settings.significantDigits = results.significantDigits;
    settings.columnGroups = results.columnGroups;
    settings.fitLowBound = results.fitLowBound;
    settings.fitHighBound = results.fitHighBound;
    settings.camera = results.camera;
    settings.setResiduals = results.setResiduals;
    return MakeCalibration(MakeInstance(std::move(results)), std::move(settings));
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
