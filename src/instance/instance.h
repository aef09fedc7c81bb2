// The instance record: the parameters a host sets and every result a run
// leaves for the accessors and the correction tests.
#ifndef VYR_FFC_INSTANCE_H
#define VYR_FFC_INSTANCE_H

#include <cstdint>
#include <string>
#include <vector>

// A plain record; a fresh one holds empty lists, sizes 0, gains and offsets 0
// and real gains 1. Gains and offsets are deliberately 0, not 1: only a
// current-generation run sets them.
struct FlatFieldCorrectionInstance {
    std::string imageFolder;
    std::vector<int32_t> referenceColumns;
    int32_t imageHeight = 0;
    int32_t imageWidth = 0;
    std::vector<std::vector<int32_t>> columnLuts;
    std::vector<int32_t> lutExactColumns;
    std::vector<int32_t> lutDarkHoleColumns;
    std::vector<std::vector<std::vector<int32_t>>> lutHoleCandidates;
    float quadGain = 0.0f;
    float quadOffset = 0.0f;
    float cubicGain = 0.0f;
    float cubicOffset = 0.0f;
    float realQuadGain = 1.0f;
    float realCubicGain = 1.0f;
    std::vector<int32_t> columnFlags;
    std::vector<std::vector<int32_t>> columnDarkRanges;
    std::vector<std::vector<float>> quadCoeffs;
    std::vector<std::vector<float>> cubicCoeffs;
    std::vector<std::vector<std::vector<float>>> segQuadCoeffs;
    std::vector<int32_t> segQuadBreaks;
    std::vector<std::vector<std::vector<float>>> segCubicCoeffs;
    std::vector<int32_t> segCubicBreaks;
    float rangeGain = 0.0f;
};

namespace ffc {

// Column groups as the runs receive them: one ordered list of column indices
// per group.
using ColumnGroups = std::vector<std::vector<int32_t>>;

// The checks every calibration run makes before it reads any image: positive
// sizes, at least one reference column, and every reference column and group
// index inside the image. A run that fails them returns false untouched.
bool RunInputsAreValid(const FlatFieldCorrectionInstance& instance, const ColumnGroups& columnGroups);

}  // namespace ffc

#endif  // VYR_FFC_INSTANCE_H
