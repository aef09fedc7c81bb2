#include "support/plain_fits.h"

#include "calib/lowhigh/column_tables.h"

namespace ffc::testing {

std::vector<float> SolvePolyfit(const PolyfitDesign& design, const std::vector<float>& y) {
    std::vector<float> coefficients;
    Eigen::VectorXf work;
    SolvePolyfitInto(design, y.data(), work, coefficients);
    return coefficients;
}

std::vector<float> Polyfit(const std::vector<float>& x, const std::vector<float>& y, int order) {
    return SolvePolyfit(FactorPolyfitDesign(x, order), y);
}

void FillTableGaps(std::vector<int32_t>& table) {
    std::vector<int32_t> known;
    for (int32_t b = 0; b < kTableSize; ++b) {
        if (table[b] != kUnknownEntry) known.push_back(b);
    }
    FillTableGapsOfKnown(table, known);
}

}  // namespace ffc::testing
