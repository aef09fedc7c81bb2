// Creation, parameters, destruction and the real-gain reader of an instance.
#include "VyrCISFlatfieldCorrection.h"
#include "instance/instance.h"

#include <utility>

#include <opencv2/core/utils/filesystem.hpp>

extern "C" {

VYR_FFC_API void CreateFlatFieldCorrectionInstance(FlatFieldCorrectionInstance** instance) {
    FlatFieldCorrectionInstance* created = new FlatFieldCorrectionInstance();
    if (instance == nullptr) {
        delete created;
        return;
    }
    *instance = created;
}

VYR_FFC_API void DestroyFlatFieldCorrectionVyrInstance(FlatFieldCorrectionInstance* instance) {
    delete instance;
}

VYR_FFC_API bool SetFlatFieldCorrectionParameters(FlatFieldCorrectionInstance* instance,
                                                  std::string imageFolder,
                                                  const std::vector<int32_t>& referenceColumns,
                                                  int32_t imageHeight, int32_t imageWidth) {
    if (instance == nullptr) return false;
    if (!cv::utils::fs::exists(imageFolder)) return false;
    instance->imageFolder = std::move(imageFolder);
    instance->referenceColumns = referenceColumns;
    instance->imageWidth = imageWidth;
    instance->imageHeight = imageHeight;
    instance->preparedTables.Drop();  // made for the old width
    return true;
}

VYR_FFC_API void Return_realcoeffgain(FlatFieldCorrectionInstance* instance, float* realQuadGain,
                                      float* realCubicGain) {
    if (instance == nullptr) return;
    if (realQuadGain != nullptr) *realQuadGain = instance->realQuadGain;
    if (realCubicGain != nullptr) *realCubicGain = instance->realCubicGain;
}

}  // extern "C"
