// The two test functions: corrections of one image with the results of either
// low/high generation.
#include "VyrCISFlatfieldCorrection.h"

#include "correct/correction.h"

extern "C" {

VYR_FFC_API bool TestFlatFieldCorrectionTool_NewNew(FlatFieldCorrectionInstance* instance, const cv::Mat* input,
                                                    cv::Mat* output, int32_t mode) {
    return ffc::CorrectImage(instance, input, output, mode, ffc::Generation::kCurrent);
}

VYR_FFC_API bool TestFlatFieldCorrectionTool(FlatFieldCorrectionInstance* instance, const cv::Mat* input,
                                             cv::Mat* output, int32_t mode) {
    return ffc::CorrectImage(instance, input, output, mode, ffc::Generation::kPrevious);
}

}  // extern "C"
