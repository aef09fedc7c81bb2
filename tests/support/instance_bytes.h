// An instance's whole state as one byte string: the parameters, every result
// the accessors hand out and the tables only the corrections read. Two
// readings are equal only when every value matches bit for bit.
#ifndef FFC_TESTS_SUPPORT_INSTANCE_BYTES_H
#define FFC_TESTS_SUPPORT_INSTANCE_BYTES_H

#include <string>
#include <vector>

#include "instance/instance.h"

namespace ffc::testing {

// Each list's length goes first, so that tables of other shapes differ.
inline void AppendLength(std::string& bytes, size_t length) {
    bytes.append(reinterpret_cast<const char*>(&length), sizeof length);
}
template <typename T>
void AppendBytes(std::string& bytes, const std::vector<T>& values) {
    const char* data = reinterpret_cast<const char*>(values.data());
    AppendLength(bytes, values.size());
    bytes.append(data, data + values.size() * sizeof(T));
}
template <typename T>
void AppendBytes(std::string& bytes, const std::vector<std::vector<T>>& table) {
    AppendLength(bytes, table.size());
    for (const std::vector<T>& row : table) AppendBytes(bytes, row);
}

inline std::string InstanceBytes(const FlatFieldCorrectionInstance& instance) {
    std::string bytes = instance.imageFolder + '\n';
    // Room up front for the mapping and hole tables, nearly all of a wide
    // instance: regrowing the string would cost more than filling it.
    size_t room = 4096;
    for (const auto& levels : instance.lutHoleCandidates) room += 16 * levels.size();
    for (const auto& lut : instance.columnLuts) room += 8 + 4 * lut.size();
    bytes.reserve(room);
    AppendBytes(bytes, instance.referenceColumns);
    AppendBytes(bytes, std::vector<int32_t>{instance.imageHeight, instance.imageWidth});
    AppendBytes(bytes, std::vector<float>{instance.quadGain, instance.quadOffset, instance.cubicGain,
                                          instance.cubicOffset, instance.realQuadGain, instance.realCubicGain,
                                          instance.rangeGain});
    for (const auto* list : {&instance.lutExactColumns, &instance.lutDarkHoleColumns, &instance.columnFlags,
                             &instance.segQuadBreaks, &instance.segCubicBreaks}) {
        AppendBytes(bytes, *list);
    }
    AppendBytes(bytes, instance.columnLuts);
    AppendBytes(bytes, instance.lutHoleCandidates);
    AppendBytes(bytes, instance.columnDarkRanges);
    for (const auto* table : {&instance.quadCoeffs, &instance.cubicCoeffs}) AppendBytes(bytes, *table);
    for (const auto* pieces : {&instance.segQuadCoeffs, &instance.segCubicCoeffs}) AppendBytes(bytes, *pieces);
    return bytes;
}

}  // namespace ffc::testing

#endif  // FFC_TESTS_SUPPORT_INSTANCE_BYTES_H
