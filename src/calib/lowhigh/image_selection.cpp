#include "calib/lowhigh/image_selection.h"

#include <utility>

#include "calib/column_marks.h"

namespace ffc {

namespace {

// Levels 0..254 take part; a saturated image says nothing about the response.
constexpr int32_t kHighestSelectableLevel = 254;

}  // namespace

int32_t ImageLevel(const std::vector<float>& profile, const std::vector<int32_t>& referenceColumns) {
    int32_t accumulator = 0;
    for (int32_t column : referenceColumns) {
        accumulator = static_cast<int32_t>(static_cast<float>(accumulator) + profile[column]);
    }
    return accumulator / static_cast<int32_t>(referenceColumns.size());
}

double Flatness(const std::vector<float>& profile, int32_t level) {
    const float levelAsFloat = static_cast<float>(level);
    double sum = 0.0;
    for (float value : profile) {
        const float difference = value - levelAsFloat;
        const float square = difference * difference;
        sum += static_cast<double>(square);
    }
    return sum;
}

std::vector<size_t> ChooseOneImagePerLevel(const std::vector<int32_t>& levels,
                                           const std::vector<double>& flatness) {
    std::vector<bool> levelPresent(kHighestSelectableLevel + 1, false);
    for (int32_t level : levels) {
        if (level >= 0 && level <= kHighestSelectableLevel) levelPresent[level] = true;
    }
    std::vector<size_t> chosen;
    for (int32_t level = 0; level <= kHighestSelectableLevel; ++level) {
        if (!levelPresent[level]) continue;
        // Only the first consecutive run of images at this level competes.
        bool found = false;
        size_t best = 0;
        float bestFlatness = 0.0f;
        for (size_t i = 0; i < levels.size(); ++i) {
            if (levels[i] != level) {
                if (found) break;
                continue;
            }
            const float candidate = static_cast<float>(flatness[i]);
            if (!found || candidate < bestFlatness) {
                best = i;
                bestFlatness = candidate;
                found = true;
            }
        }
        chosen.push_back(best);
    }
    return chosen;
}

SelectedImages SelectImages(std::vector<std::vector<float>> loadedProfiles,
                            const std::vector<int32_t>& referenceColumns) {
    std::vector<int32_t> levels;
    std::vector<double> flatness;
    levels.reserve(loadedProfiles.size());
    flatness.reserve(loadedProfiles.size());
    for (const std::vector<float>& profile : loadedProfiles) {
        levels.push_back(ImageLevel(profile, referenceColumns));
        flatness.push_back(Flatness(profile, levels.back()));
    }

    SelectedImages selected;
    for (size_t index : ChooseOneImagePerLevel(levels, flatness)) {
        // A profile is a pure function of its image, so the kept one equals a
        // fresh profile of the selected image.
        selected.profiles.push_back(std::move(loadedProfiles[index]));
        selected.levels.push_back(MeanOverReferenceColumns(selected.profiles.back(), referenceColumns));
    }
    return selected;
}

}  // namespace ffc
