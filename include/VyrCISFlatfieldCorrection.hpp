// VyrCISFlatfieldCorrection, C++ interface: calibrate once, keep the result in
// a file, correct camera images with it on every core.
//
// It is built from the same calibration and correction code as the twelve
// exported functions of VyrCISFlatfieldCorrection.h and gives the same bits;
// it adds what a production host needs around them.
//
// Rules shared by everything below:
//  - Failures throw vyrffc::Error, whose reason() says what went wrong and
//    whose what() says it in one sentence a user can act on. Nothing else is
//    thrown but std::bad_alloc.
//  - A function that throws leaves its arguments as they were: a calibration
//    is either made whole or not at all, a file is either loaded whole or not
//    at all.
//  - Images are 8-bit, single channel (CV_8UC1), one sensor line per row.
//  - A Calibration is immutable once made. Any number of threads may correct
//    through one Calibration at the same time.
//  - File and folder names are UTF-8 on every system; on Windows they reach
//    the system through its wide calls.
//  - Gray values and coefficients follow the conventions of
//    VyrCISFlatfieldCorrection.h: coefficients in ascending powers.
#ifndef VYR_CIS_FLATFIELD_CORRECTION_HPP
#define VYR_CIS_FLATFIELD_CORRECTION_HPP

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <opencv2/core/mat.hpp>

#if defined(_WIN32)
#  if defined(VYR_FFC_BUILDING_CXX_LIBRARY)
#    define VYRFFC_API __declspec(dllexport)
#  else
#    define VYRFFC_API __declspec(dllimport)
#  endif
#else
#  define VYRFFC_API __attribute__((visibility("default")))
#endif

namespace vyrffc {

// The library's version ("major.minor.patch") and the newest calibration file
// format it writes and reads.
VYRFFC_API std::string LibraryVersion();
VYRFFC_API int FileFormatVersion();

enum class ErrorReason {
    kInvalidSettings,      // a setting no calibration can use
    kFolderMissing,        // the calibration folder does not exist or cannot be listed
    kNoImageFiles,         // no file matches FOLDER + "*.bmp"
    kTooFewImages,         // fewer images of the image size than the run needs
    kColumnOutsideImage,   // a reference column or group index outside the image
    kAllSaturated,         // every image is saturated at the reference columns
    kNoBrightnessRange,    // the images do not span a usable range of light levels
    kFileUnreadable,       // a file that cannot be opened, read or written
    kFileCorrupt,          // a calibration file that is truncated, corrupt or inconsistent
    kFileTooNew,           // a calibration file of a newer format version
    kImageUnusable,        // an image to correct that is not 8-bit gray or has another width
    kModeUnavailable,      // a mode that needs results this calibration does not hold
    kNoHoleCandidate,      // mode 4 met a raw value it has no candidate for
    kDarkRangeMissing,     // a dark pixel in a column without a dark range
    kUnfillableRow,        // mode 4 met a row without a single mapped pixel
    kCameraMismatch,       // a calibration of another camera, or of no named camera
};

// The reason's name, e.g. "too few images".
VYRFFC_API const char* ReasonName(ErrorReason reason);

// Every reason, in the order declared: what a binding lists to its users.
VYRFFC_API std::vector<ErrorReason> AllErrorReasons();

class VYRFFC_API Error : public std::runtime_error {
public:
    Error(ErrorReason reason, const std::string& message);
    ErrorReason reason() const noexcept { return reason_; }

private:
    ErrorReason reason_;
};

// The three calibration runs.
enum class CalibrationRun {
    kCurrent,    // low/high mapping, current generation
    kPrevious,   // low/high mapping, previous generation
    kSegmented,  // two-piece fits with an automatic breakpoint
};

// The run's name as files and users spell it: "current", "previous" or
// "segmented"; RunNamed gives the run of such a name (exact spelling), or
// nothing.
VYRFFC_API const char* RunName(CalibrationRun run);
VYRFFC_API std::optional<CalibrationRun> RunNamed(std::string_view name);

// The two correction rules; each run's results are meant for its own.
enum class Generation { kCurrent, kPrevious };

// Correction modes. Each has a number (the one the twelve functions take)
// and a name; the rule behind it depends on the generation:
//   0 quadratic             the quadratic per column, rounded to gray
//   1 cubic                 the cubic per column, rounded to gray
//   4 table                 the mapping table per column; a raw 255 has no
//                           value (no run writes hole candidates), so an image
//                           with a saturated pixel fails with kNoHoleCandidate
//   5 dark-backward         current rule: the quadratic times the quadratic
//                           gain; previous rule: the table times the range
//                           gain; dark pixels (raw 0 in a flagged column)
//                           copy their neighbour clamped into their dark
//                           range, those at the start of a line filled back
//                           from its first regular pixel
//   6 quadratic-dark-forward
//                           the quadratic times the gain (current: the
//                           quadratic gain, previous: the range gain); dark
//                           pixels filled forward, the first of a line from
//                           the first regular pixel
//   7 cubic-dark-forward    the same with the cubic; the row the twelve
//                           functions fall back on for any other number, so
//                           also named "default" (its old name)
// Correct refuses every other number. Gains: the current run folds its gains
// into the coefficients and leaves 1; the previous run's range gain is
// 255 / its upper fit bound, so its modes 5, 6 and 7 stretch the output by it
// and modes 0, 1 and 4 do not (see OutputLevel).
constexpr int kDefaultMode = 7;  // the twelve functions' fallback row, mode 7

// Every mode number, ascending: 0, 1, 4, 5, 6, 7.
VYRFFC_API std::vector<int> AllModes();

// The mode's name as above ("quadratic", ..., "cubic-dark-forward"), or
// nullptr for a number that is no mode.
VYRFFC_API const char* ModeName(int mode);

// The mode of a name, or of its digits ("0", "1", "4", "5", "6", "7"), or 7
// for "default"; nothing for anything else (exact spelling).
VYRFFC_API std::optional<int> ModeNamed(std::string_view name);

// One line saying what the mode does under the generation's rule, for help
// texts; nullptr for a number that is no mode.
VYRFFC_API const char* ModeDescription(int mode, Generation generation);

// The modes a calibration of `run` serves with the rule of `generation`, in
// ascending order. The others read results that run does not make (a gain it
// leaves at 0, tables it does not write) and would give a constant image:
// current run, previous rule: 0, 1, 4; previous run, current rule: 0, 1, 4;
// segmented run, either rule: 0, 1; a run with its own rule: every mode.
VYRFFC_API std::vector<int> ServedModes(CalibrationRun run, Generation generation);

// The mode a calibration of `run` corrects in when none is named, with the
// rule of `generation`: of the modes it serves, the one that corrects every
// image (mode 4 fails on a raw 255, which a specular highlight gives), with
// the lowest residual non-uniformity and flagged dark columns kept nearest
// their neighbours in dim light:
//   current run: 0 (quadratic);
//   previous run: 6 (quadratic-dark-forward) with its own rule, 0 with the
//   current rule;
//   segmented run: 1 (cubic).
// Measured on two simulated 7,296-column modules (residual non-uniformity:
// standard deviation over mean of the column means of held-out flat images
// inside the fitting range, after correction):
//   current run    0, 5, 6: 0.81%, 0.61%   1, 7: 0.88%, 0.67%   4: 0.46%, 0.46%
//   previous run   6: 0.36%, 0.35%   0: 0.42%, 0.41%   7: 0.45%, 0.45%
//                  1, 4, 5: 0.50% to 0.52%
//   segmented run  1: 1.47%, 1.37%   0: 2.13%, 1.93%
// In dim light (reference columns at raw 58, corrected line at 26) the cubic
// takes the current run's flagged dark columns to 0 to 15, the quadratic
// keeps them at 10 to 27; in the dark (line at 0) modes 5, 6 and 7 of the
// current run lift them to the bottom of their dark range (7), mode 0 leaves
// them at 0 or 1. With the previous run, mode 0 leaves them 11 to 27 levels
// above a line at 14 where mode 6 keeps them within 1.
VYRFFC_API int DefaultMode(CalibrationRun run, Generation generation);

// Who the calibrated camera is: free text, UTF-8 without control characters.
// Model and serial up to 128 bytes each; up to 64 notes, each a key of 1 to
// 64 bytes without '=' and a value of up to 1024 bytes, the keys distinct.
// A calibration keeps its notes in ascending key order. Empty model and
// serial: no camera named.
struct CameraIdentity {
    std::string model;
    std::string serial;
    std::vector<std::pair<std::string, std::string>> notes;

    bool Named() const { return !model.empty() || !serial.empty(); }
};

// How to calibrate. Zero sizes and empty lists take the defaults.
struct Settings {
    CalibrationRun run = CalibrationRun::kCurrent;
    uint32_t significantDigits = 6;
    // The image size; 0 x 0: the size most images have.
    int32_t imageHeight = 0;
    int32_t imageWidth = 0;
    // Empty: the middle fifth of the line for the low/high runs, every column
    // for the segmented run. The segmented run fits only these columns, so it
    // takes them sorted and without repeats.
    std::vector<int32_t> referenceColumns;
    // Empty: consecutive groups of groupWidth columns; a last group shorter
    // than half of that joins no group.
    std::vector<std::vector<int32_t>> columnGroups;
    int32_t groupWidth = 64;
    // Kept in the calibration and its file; a value outside the bounds of
    // CameraIdentity is kInvalidSettings.
    CameraIdentity camera;
};

// The residual non-uniformity a calibration left on one level of its own set.
struct LevelResidual {
    float level = 0.0f;          // the image's mean over the reference columns
    float nonUniformity = 0.0f;  // as CalibrationImageAssessment gives it, a fraction
};

// Everything a calibration produced, as plain arrays, one entry per column
// where the run writes per-column results. Fields a run does not write keep
// the values of a fresh calibration: empty lists, gains and offsets 0, real
// gains 1.
struct VYRFFC_API Results {
    CalibrationRun run = CalibrationRun::kCurrent;
    uint32_t significantDigits = 0;
    int32_t imageHeight = 0;
    int32_t imageWidth = 0;
    std::vector<int32_t> referenceColumns;
    std::vector<std::vector<int32_t>> columnGroups;
    // The camera named when calibrating; files of format 1 and 2 name none.
    CameraIdentity camera;
    // What the calibration left on its own images inside the fitting range
    // (in DefaultMode of its run and rule), by strictly ascending level, as
    // KeepSetResiduals keeps it: what a camera that still matches the
    // calibration shows at those levels. Empty when none was kept (files
    // before format 4 keep none).
    std::vector<LevelResidual> setResiduals;

    // Low/high runs: the exclusive bounds of the raw gray values the fits use.
    float fitLowBound = 0.0f;
    float fitHighBound = 0.0f;
    // Low/high runs: per column the 256-entry table from raw gray to
    // reference level, the dark-response flag (-1 flagged, 0 not) and, for
    // flagged columns, the lowest and highest level seen at raw 0.
    std::vector<std::vector<int32_t>> columnLuts;
    std::vector<int32_t> columnFlags;
    std::vector<std::vector<int32_t>> columnDarkRanges;
    // Every run: per column the quadratic (3) and cubic (4) coefficients.
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
    float quadGain = 0.0f, quadOffset = 0.0f, cubicGain = 0.0f, cubicOffset = 0.0f;
    float realQuadGain = 1.0f, realCubicGain = 1.0f;
    float rangeGain = 0.0f;
    // Segmented run: per column the [lower, upper] pieces and the breakpoint
    // gray level (256: none) at orders 2 and 3.
    std::vector<std::vector<std::vector<float>>> segQuadCoeffs;
    std::vector<int32_t> segQuadBreaks;
    std::vector<std::vector<std::vector<float>>> segCubicCoeffs;
    std::vector<int32_t> segCubicBreaks;

    // Listed columns of a segmented run without two pieces at both orders:
    // they keep their single fits, but their two-piece results are not usable.
    std::vector<int32_t> IncompleteColumns() const;
};

// A finished calibration. Copies share the same immutable results; a
// moved-from calibration may only be assigned to or destroyed.
class VYRFFC_API Calibration {
public:
    const Results& results() const;

    // The correction rule of the run that made this calibration.
    Generation generation() const;

    // ServedModes of this calibration's run.
    std::vector<int> Modes(Generation generation) const;

    // Corrects `input` into `output` as the test function of `generation`
    // does in `mode` (a number of AllModes; any other is kInvalidSettings), in
    // bands of rows on `threads` threads (0: one per core; at most one per 16
    // rows and 256 in all; a negative count is kInvalidSettings). Threads the
    // system will not start leave their rows to the others. A mode that
    // Modes(generation) does not list is kModeUnavailable. The output is
    // replaced by a new image unless it already is an 8-bit image of the
    // input's size other than the input itself. Bit for bit the same for
    // every thread count; after an error the output's contents are undefined.
    // The first call in a mode and generation fills that rule's per-column
    // tables (256 bytes a column), which the calibration keeps.
    void Correct(const cv::Mat& input, cv::Mat& output, int mode, int threads = 0) const;
    void Correct(const cv::Mat& input, cv::Mat& output, int mode, Generation generation, int threads) const;
    // In DefaultMode of this calibration's run and rule, one thread per core.
    void Correct(const cv::Mat& input, cv::Mat& output) const;

    // The calibration file's contents, or a calibration read back from them.
    // Save writes them to `path` as WriteFile does; Load reads a file.
    std::string Serialize() const;
    static Calibration Deserialize(const std::string& contents);
    void Save(const std::string& path) const;
    static Calibration Load(const std::string& path);

    // Made only by the calibrate and load functions.
    struct State;
    explicit Calibration(std::shared_ptr<const State> state);

private:
    std::shared_ptr<const State> state_;
};

// Throws kCameraMismatch unless the calibration names a camera whose model
// and serial are those of `expected` (an empty field of `expected` is not
// compared; notes never are); kInvalidSettings when `expected` names none.
VYRFFC_API void RequireCamera(const Calibration& calibration, const CameraIdentity& expected);

// The output level that a raw level of the reference columns becomes when
// `calibration` corrects in `mode` with the rule of `generation`: the mean,
// over the reference columns, of what the correction writes for the whole
// raw levels either side, interpolated linearly (every column of a line at
// that raw level). The two differ because the output scale is set by the
// calibration, not by the raw levels: the current run folds a gain and an
// offset into its coefficients so that its fitting range fills 0..255 (at
// the low end of the range three quarters of the columns give 0 or less, at
// the high end three quarters give 255 or more), and the previous run's
// modes 5, 6 and 7 multiply by 255 / its upper fit bound. Mode 4, and modes
// 0 and 1 of the previous and segmented runs, give the reference level
// itself. The demo's calibrations, raw 60, 120 and 186: current run (fitting
// range 35..228), mode 0: 34.8, 121.2, 216.1; mode 4: 60.1, 119.7, 185.9;
// previous run (upper fit bound 180), mode 6: 84.3, 169.3, 254.4.
// Throws kInvalidSettings for a level outside 0..255, and what Correct
// throws (a mode not served; mode 4 above raw 254).
VYRFFC_API double OutputLevel(const Calibration& calibration, double rawReferenceLevel, int mode,
                              Generation generation);

// Calibrates from the "*.bmp" files of `folder` (a missing trailing separator
// is added). Files that cannot be used (another size, not an image, not a
// regular file) are skipped; their names and why land in `warnings`.
VYRFFC_API Calibration CalibrateFolder(const std::string& folder, const Settings& settings,
                                       std::vector<std::string>* warnings = nullptr);

// Calibrates from images already in memory (8-bit, single channel), with the
// results of writing them, in this order, as BMP files into a folder and
// calibrating from that.
VYRFFC_API Calibration CalibrateImages(const std::vector<cv::Mat>& images, const Settings& settings,
                                       std::vector<std::string>* warnings = nullptr);

// Sensor figures, as EMVA 1288 (release 4.0) defines them for a line sensor.
//
// Rules shared by the measuring functions below:
//  - The rows of an image are L repeated exposures of one line. The temporal
//    variance comes from each column's variation over its rows; the spatial
//    variance of the column means is corrected by it (s^2 - sigma^2 / L), for
//    the flat and the dark image alike.
//  - `columns` picks the columns measured (empty: every column); a column
//    outside the image is kColumnOutsideImage. An image that is not 8-bit
//    gray, or has fewer than 2 rows or 2 measured columns, is kImageUnusable.
//  - Sums run in double (per column in exact integers) in a fixed order: the
//    same image gives the same bits on every run.
//  - A figure the images cannot resolve is a bound ("< value"); one they cannot
//    give at all is NaN, with the reason in Figure::why.

// One image's statistics, its rows taken as L repeated exposures of one line.
struct LineStatistics {
    int32_t rows = 0;                        // L
    int32_t columns = 0;                     // W, the columns measured
    double mean = 0;                         // mu_y, over every measured pixel
    double temporalVariance = 0;             // sigma^2_y: mean of the columns' variances over their rows (L - 1)
    double measuredSpatialVariance = 0;      // variance of the column means (W - 1)
    double spatialVariance = 0;              // s^2_y = measured - sigma^2_y / L; may come out negative
    double spatialVarianceUncertainty = 0;   // one standard deviation of spatialVariance from the temporal noise
    double clippedLow = 0, clippedHigh = 0;  // shares of measured pixels at 0 and at 255
};

VYRFFC_API LineStatistics MeasureLine(const cv::Mat& image, const std::vector<int32_t>& columns = {});

// A share of pixels at 0 or 255 above this makes an image clipped: its mean
// and variances lose the cut tail.
constexpr double kMostClippedShare = 0.01;

// True when more than kMostClippedShare of the measured pixels sit at 0 or at
// 255.
VYRFFC_API bool IsClipped(const LineStatistics& statistics);

struct Figure {
    double value = std::numeric_limits<double>::quiet_NaN();
    bool bound = false;  // measured only as "< value"
    std::string why;     // when value is NaN: why it cannot be measured
};

struct SensorFigures {
    Figure prnu;       // fraction: sqrt(s^2_y.flat - s^2_y.dark) / (mu_y.flat - mu_y.dark)
    Figure dsnu;       // gray levels (DN): s_y.dark
    Figure darkNoise;  // gray levels (DN): sigma_y.dark
    LineStatistics flat, dark;
};

// The figures of a flat image against a dark one of the same width
// (kImageUnusable otherwise), over the same columns. A spatial variance (or a
// difference of two) below twice its standard deviation is a bound, and so is
// a temporal variance below the rounding's 1/12. PRNU is NaN when the flat is
// clipped or not brighter than the dark. A dark image clipped at 0 (as a
// correction leaves one) gives its DSNU and dark noise as bounds on the image
// as delivered; one clipped at 255 gives NaN.
VYRFFC_API SensorFigures MeasureSensorFigures(const cv::Mat& flat, const cv::Mat& dark,
                                              const std::vector<int32_t>& columns = {});

// The flat image PRNU is measured on: the index of the one whose mean above the
// dark level is nearest half of saturation (255 minus the dark mean), among
// those not clipped; the first of equals; -1 when there is none.
VYRFFC_API int NearestHalfSaturation(const std::vector<LineStatistics>& flats, const LineStatistics& dark);

// "0.178%", "< 0.05%", "1.23 DN", "< 0.3 DN", "n/a": `percent` prints a
// fraction in percent, otherwise gray levels with " DN". A bound is rounded
// up, so that it still bounds.
VYRFFC_API std::string FormatFigure(const Figure& figure, bool percent, int decimals = 3);

// A verdict on a calibration set: how well the images a calibration was made
// from can calibrate, from the images themselves and the results.
//
// The levels are the images' means over the reference columns. The range they
// are judged in is the fitting range of a low/high run; the segmented run fits
// each column from the darkest image up to where it clips, so its range is
// 0 to 255. The residual non-uniformity is that of the set corrected through
// the calibration in DefaultMode of its run and rule: per image the spatial spread of the corrected column
// means less the temporal noise, as MeasureLine gives it, over their mean, on
// the columns not flagged (the segmented run: the columns it fits); for the
// set, the median over the images inside the range.
struct CalibrationImageAssessment {
    int32_t index = 0;             // position in the images given
    double level = 0;              // mean over the reference columns
    bool inside = false;           // level strictly inside the range
    bool clipped = false;          // reference columns clipped (IsClipped)
    double rowCorrelation = 0;     // of neighbouring columns' changes from row to row; NaN: none to tell
    bool sceneLike = false;        // rows change together across columns: a scene, not a flat target
    double residualNonUniformity = std::numeric_limits<double>::quiet_NaN();  // NaN: outside or clipped
};

struct CalibrationSetVerdict {
    double rangeLow = 0, rangeHigh = 0;  // the range the levels are judged in
    int correctionMode = 0;              // the mode of the residual non-uniformity
    std::vector<CalibrationImageAssessment> images;  // those of the calibration's size, in order
    int32_t skippedImages = 0;           // not 8-bit gray of the calibration's size
    int32_t levelsInside = 0;
    double lowestInside = 0, highestInside = 0;  // NaN when no level is inside
    double largestGap = 0;                 // between consecutive levels inside
    bool extrapolatesLow = false, extrapolatesHigh = false;  // no level near that end of the range
    int32_t clippedImages = 0;
    int32_t sceneLikeImages = 0;
    double flaggedShare = 0;               // of the columns, dark-response flagged
    double residualNonUniformity = 0;      // median over the images inside, not clipped; NaN when none
    std::vector<std::string> warnings;     // one line each, what to do about it
};

// Judges `images`, the calibration's own in the order it used them. Images of
// another size or type are skipped and counted. No image at all is
// kTooFewImages.
VYRFFC_API CalibrationSetVerdict AssessCalibrationSet(const Calibration& calibration,
                                                      const std::vector<cv::Mat>& images);

// MeasureLine over the reference columns of `results`: the level of an image
// as the verdict and a camera check take it. A single reference column is
// measured as if listed twice, so that the spread is 0 rather than refused.
VYRFFC_API LineStatistics MeasureReference(const Results& results, const cv::Mat& image);

// The columns a residual non-uniformity is measured on: those the segmented
// run fits (it leaves the others at 0), or those not flagged for their dark
// response, which may read 0 in dim light whatever the calibration.
VYRFFC_API std::vector<int32_t> ResidualColumns(const Results& results);

// `calibration` with the residual non-uniformity of every image of `verdict`
// that has one (inside the range, not clipped) kept in its results and its
// file, by level (images of one level as their mean), in place of any kept
// before; the tables are copied.
VYRFFC_API Calibration KeepSetResiduals(const Calibration& calibration, const CalibrationSetVerdict& verdict);

// The kept residual non-uniformity at `level` of the reference columns,
// interpolated linearly between the kept levels either side; NaN outside
// them or when none is kept.
VYRFFC_API double SetResidualAt(const Results& results, double level);

// Reads an image file to correct into `image` as stored, in any format the
// image library reads. Only a regular file is opened, and its length and
// header are checked before it is read whole. Throws, naming the file,
// kFileUnreadable when it is missing, not a regular file, longer or larger
// than any 8-bit gray image the image library reads (2^20 rows or columns,
// 2^30 pixels), cut short, or not decodable (memory running out included),
// and kImageUnusable when it is colour, deeper than 8 bits or otherwise not
// 8-bit gray. `image` and `fileBytes` keep their memory when it suffices, so
// a batch that passes the same ones allocates once; after an error `image`
// holds nothing to use.
VYRFFC_API void ReadImageToCorrect(const std::string& path, cv::Mat& image, std::vector<uint8_t>& fileBytes);
VYRFFC_API cv::Mat ReadImageToCorrect(const std::string& path);

// Writes `bytes` to `path` whole or not at all, as Save does: under an
// exclusive random name beside it (within the 255-byte name limit), flushed
// to disk and renamed over the target, which keeps its permissions (a new
// file gets what the umask gives). A symlink is written through, the link
// kept; a FIFO or character device receives the bytes directly. A folder, a
// name in a folder that does not exist (never created), or any failure
// throws kFileUnreadable and leaves the target as it was and no temporary
// file behind.
VYRFFC_API void WriteFile(const std::string& path, std::string_view bytes);

}  // namespace vyrffc

#endif  // VYR_CIS_FLATFIELD_CORRECTION_HPP
