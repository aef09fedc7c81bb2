// The start every calibration run shares, before any run-specific stage.
#ifndef VYR_FFC_RUN_START_H
#define VYR_FFC_RUN_START_H

#include <cstddef>
#include <optional>
#include <vector>

#include "instance/instance.h"

namespace ffc {

// The column profiles of the folder's usable images, in listing order. Empty
// when the run must return false untouched: a null instance, inputs that
// RunInputsAreValid rejects, or fewer than `minimumImages` usable images.
std::optional<std::vector<std::vector<float>>> LoadRunProfiles(const FlatFieldCorrectionInstance* instance,
                                                               const ColumnGroups& columnGroups,
                                                               size_t minimumImages);

}  // namespace ffc

#endif  // VYR_FFC_RUN_START_H
