// VyrCISFlatfieldCorrection: flat-field (shading) calibration of CIS line cameras.
//
// The library works from a folder of 8-bit BMP images of a uniform white
// target, taken at many light levels. For every sensor column it works out how
// the raw gray value of that column relates to the level that the reference
// columns see, and stores the result in an instance as 256-entry mapping
// tables and as quadratic and cubic polynomials (coefficients in ascending
// powers: element j multiplies x^j). The test functions correct camera images
// with those results.
//
// Rules shared by every function below:
//  - The instance type is opaque. Create it with
//    CreateFlatFieldCorrectionInstance and release it with
//    DestroyFlatFieldCorrectionVyrInstance; all other functions take it first.
//  - Success is reported as a bool: true on success, false otherwise. Accessors
//    and the create and destroy functions return nothing.
//  - A rejected call leaves the instance exactly as it was.
//  - Arguments taken by value are copied by the library; every output passed by
//    pointer is replaced as a whole and shares no storage with the instance.
//    A null output pointer is skipped.
//  - Nothing is caught: allocation failures and image-library errors reach the
//    caller. A run they interrupt leaves the instance as it was. The test functions throw std::invalid_argument("Vector is empty")
//    when a dark pixel or a hole needs a list that is empty.
//  - The library starts no threads, writes no files and keeps no global state.
//    Separate instances are independent. Correction calls (the two test
//    functions) only read the instance, so several of them may share one
//    instance at the same time. A calibration run must not overlap any other
//    call on its instance, nor may the other functions that change it
//    (parameters, destruction).
//  - Arguments include std::string, std::vector and cv::Mat, so the host must be
//    built against the same standard library and the same OpenCV.
//  - On Windows, folder and file names are narrow strings in the process code
//    page, as the host's own narrow file calls take them: the library lists
//    and reads exactly what those calls would.
#ifndef VYR_CIS_FLATFIELD_CORRECTION_H
#define VYR_CIS_FLATFIELD_CORRECTION_H

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core/mat.hpp>

#if defined(_WIN32)
#  if defined(VYR_FFC_BUILDING_LIBRARY)
#    define VYR_FFC_API __declspec(dllexport)
#  else
#    define VYR_FFC_API __declspec(dllimport)
#  endif
#else
#  define VYR_FFC_API __attribute__((visibility("default")))
#endif

struct FlatFieldCorrectionInstance;

extern "C" {

// Allocates an instance with its fresh values (empty folder, lists and
// results, sizes 0, gains and offsets 0, real gains 1) and stores its address
// through `instance`.
VYR_FFC_API void CreateFlatFieldCorrectionInstance(FlatFieldCorrectionInstance** instance);

// Releases the instance and everything it holds. A null pointer is ignored.
VYR_FFC_API void DestroyFlatFieldCorrectionVyrInstance(FlatFieldCorrectionInstance* instance);

// Stores the calibration folder, the reference columns and the expected image
// size, but only when `imageFolder` names an existing file-system entry.
// The calibration images are the files matching imageFolder + "*.bmp", so the
// folder should end with a path separator. Returns false (and changes nothing)
// when the folder does not exist or the instance is null. Earlier results are
// kept.
VYR_FFC_API bool SetFlatFieldCorrectionParameters(FlatFieldCorrectionInstance* instance,
                                                  std::string imageFolder,
                                                  const std::vector<int32_t>& referenceColumns,
                                                  int32_t imageHeight, int32_t imageWidth);

// Reports the gains that the last current-generation run folded into its
// quadratic and cubic coefficients (1 and 1 before any such run).
VYR_FFC_API void Return_realcoeffgain(FlatFieldCorrectionInstance* instance, float* realQuadGain,
                                      float* realCubicGain);

// Current-generation calibration. Loads the images of the folder (at least 4
// of the configured size), keeps the flattest image per gray level, chooses
// the gray range to fit from the ripple of the images over `columnGroups`,
// builds each column's 256-entry table from raw gray to reference level, fits
// it inside that range with a quadratic and a cubic polynomial (rounded to
// `significantDigits` significant digits), and scales both families so that
// the corrected output spans 0..255. Returns false, changing nothing, when the
// sizes are not positive, `referenceColumns` is empty or leaves the image, a
// group index leaves the image, fewer than 4 images are usable, every image
// is saturated, or the output gains come out infinite (images that do not span
// a range of light levels). Rounding to more than 9 digits, more than a float
// holds, leaves the coefficients as fitted.
VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_NewNew(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups);

// Copies out the per-column results of the low/high runs: quadratic and cubic
// coefficients, the dark-response flag of each column and, for flagged
// columns, the lowest and highest reference level seen at raw 0 (low 8 bits
// each), then the quadratic gain and offset and the cubic gain and offset.
VYR_FFC_API void GetFlatFieldCorrectionPolyval_NewNew(
    FlatFieldCorrectionInstance* instance, std::vector<std::vector<float>>* quadCoeffs,
    std::vector<std::vector<float>>* cubicCoeffs, std::vector<bool>* columnFlags,
    std::vector<std::vector<uint8_t>>* columnDarkRanges, float* quadGain, float* quadOffset,
    float* cubicGain, float* cubicOffset);

// Previous-generation calibration: as the current generation, but fitting the
// gray range 0 < x < upper bound without scaling, and storing the range gain
// 255 / upper bound. Fails under the same conditions.
VYR_FFC_API bool RunFlatFieldCorrectionTool_lowhigh_map_simple_New(
    FlatFieldCorrectionInstance* instance, uint32_t significantDigits,
    std::vector<std::vector<int32_t>> columnGroups);

// As GetFlatFieldCorrectionPolyval_NewNew for the first four outputs, then the
// range gain of the last previous-generation run (0 before any).
VYR_FFC_API void GetFlatFieldCorrectionPolyval_New(FlatFieldCorrectionInstance* instance,
                                                   std::vector<std::vector<float>>* quadCoeffs,
                                                   std::vector<std::vector<float>>* cubicCoeffs,
                                                   std::vector<bool>* columnFlags,
                                                   std::vector<std::vector<uint8_t>>* columnDarkRanges,
                                                   float* rangeGain);

// Segmented calibration. Uses every image of the folder (at least 10), and
// fits each column listed in `referenceColumns` (ascending) with a single
// polynomial and with two pieces joined at an automatically found breakpoint,
// at orders 2 and 3. Unlisted columns get zero coefficients and breakpoint 256.
// Returns false, changing nothing, on the input errors of the low/high runs or
// with fewer than 10 usable images; returns false with every result written
// when a listed column had too few points for two pieces.
VYR_FFC_API bool RunFlatFieldCorrectionTool_autosegment(FlatFieldCorrectionInstance* instance,
                                                        uint32_t significantDigits,
                                                        std::vector<std::vector<int32_t>> columnGroups);

// Copies out the quadratic two-piece fits of the segmented run: per column the
// [lower, upper] pieces and the breakpoint gray level (256 for none).
VYR_FFC_API void GetFlatFieldCorrectionPolyval_Seg_2(
    FlatFieldCorrectionInstance* instance, std::vector<std::vector<std::vector<float>>>* pieces,
    std::vector<int32_t>* breakpoints);

// Corrects the 8-bit single-channel `input` into `output` (replaced by a new
// 8-bit image when its size differs or it is not 8-bit single-channel) with
// the stored results:
//   mode 0: quadratic polynomials, 1: cubic polynomials, 4: mapping tables
//   with hole filling, 5: quadratic times quadGain with dark pixels filled
//   backwards, 6: quadratic times quadGain with dark pixels carried forwards,
//   any other mode: cubic times cubicGain, dark pixels carried forwards.
// Returns false, with `output` untouched, when the input's width differs from
// the configured width, the input is empty or not 8-bit single-channel, or the
// tables the mode reads do not cover every column.
VYR_FFC_API bool TestFlatFieldCorrectionTool_NewNew(FlatFieldCorrectionInstance* instance,
                                                    const cv::Mat* input, cv::Mat* output,
                                                    int32_t mode);

// As TestFlatFieldCorrectionTool_NewNew for the previous generation: modes 5, 6
// and the default use the range gain, and mode 5 maps regular pixels through
// the tables instead of the quadratic polynomials.
VYR_FFC_API bool TestFlatFieldCorrectionTool(FlatFieldCorrectionInstance* instance,
                                             const cv::Mat* input, cv::Mat* output, int32_t mode);

}  // extern "C"

#endif  // VYR_CIS_FLATFIELD_CORRECTION_H
