// The first stage of both low/high runs: the gray level and flatness of every
// loaded image, and the flattest image of each level, kept as its column
// profile and its level measured in floating point.
#ifndef VYR_FFC_LOWHIGH_IMAGE_SELECTION_H
#define VYR_FFC_LOWHIGH_IMAGE_SELECTION_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "instance/instance.h"

namespace ffc {

// The images a low/high run calibrates from, in increasing level order: one
// column profile (imageWidth floats) and one float level per image.
struct SelectedImages {
    std::vector<std::vector<float>> profiles;
    std::vector<float> levels;
};

// The integer gray level of an image: the profile values at the reference
// columns accumulated in an integer that is truncated after every addition,
// then divided by the column count (integer division).
int32_t ImageLevel(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns);

// Sum over all columns of the squared float difference between the profile
// and the level, each square widened to double before it is added. Smaller is
// flatter.
double Flatness(const std::vector<float>& profile, int32_t level);

// Indices of the chosen images, one per level 0..254 in increasing level: of
// the first consecutive run of images at a level, the one of smallest
// flatness (compared in float), the earlier on ties. Level 255 is never kept.
std::vector<size_t> ChooseOneImagePerLevel(const std::vector<int32_t>& levels,
                                           const std::vector<double>& flatness);

// Reduces the profiles of the loaded images to the selected ones (moved out of
// `loadedProfiles`) with their float levels.
SelectedImages SelectImages(std::vector<std::vector<float>> loadedProfiles,
                            const std::vector<int32_t>& referenceColumns);

}  // namespace ffc

#endif  // VYR_FFC_LOWHIGH_IMAGE_SELECTION_H
