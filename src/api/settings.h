// Settings with every default filled in from the images found, checked
// against the image size before any list is used.
#ifndef VYR_FFC_API_SETTINGS_H
#define VYR_FFC_API_SETTINGS_H

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/image_list.h"

namespace vyrffc {

// The image size (the size most usable images have, the first to reach that
// count on a tie), the reference columns and the groups, each defaulted when
// not given; throws kInvalidSettings or kColumnOutsideImage with the reason.
Settings ResolveSettings(Settings settings, const ImageList& list);

// Consecutive groups of `groupWidth` columns over 0..width-1; a last group
// shorter than half a group joins no group.
std::vector<std::vector<int32_t>> ConsecutiveGroups(int32_t width, int32_t groupWidth);

}  // namespace vyrffc

#endif  // VYR_FFC_API_SETTINGS_H
