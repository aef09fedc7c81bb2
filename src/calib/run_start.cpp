#include "calib/run_start.h"

#include "imageset/image_set.h"

namespace ffc {

std::optional<std::vector<std::vector<float>>> LoadRunProfiles(const FlatFieldCorrectionInstance* instance,
                                                               const ColumnGroups& columnGroups,
                                                               size_t minimumImages) {
    if (instance == nullptr || !RunInputsAreValid(*instance, columnGroups)) return std::nullopt;
    std::vector<std::vector<float>> profiles = LoadCalibrationProfiles(*instance);
    if (profiles.size() < minimumImages) return std::nullopt;
    return profiles;
}

}  // namespace ffc
