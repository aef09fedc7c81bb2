#include "correct/hole_fill.h"

#include <algorithm>
#include <utility>

#include "correct/fill_choices.h"
#include "correct/image_rows.h"
#include "instance/column_readers.h"

namespace ffc {

namespace {

// Every column's hole value is 255, or 0 for the columns of the dark-hole
// list; the columns of the exact list have none.
HoleColumns HoleColumnsOf(const FlatFieldCorrectionInstance& instance, int width) {
    HoleColumns holeColumns;
    holeColumns.raw.assign(width, 255);
    holeColumns.hasHoles.assign(width, 1);
    for (int32_t c : instance.lutDarkHoleColumns) {
        if (c >= 0 && c < width) holeColumns.raw[c] = 0;
    }
    for (int32_t c : instance.lutExactColumns) {
        if (c >= 0 && c < width) holeColumns.hasHoles[c] = 0;
    }
    return holeColumns;
}

// Fill passes over the holes in column-major order; a pixel filled in a pass
// serves at once as a neighbour. Holes still open when a pass fills nothing
// end as 0; when a candidate list is empty, they get back their old bytes.
bool FillHoles(const FlatFieldCorrectionInstance& instance, const HoleColumns& holeColumns, std::vector<Hole> holes,
               cv::Mat& output) {
    const size_t width = static_cast<size_t>(output.cols);
    std::sort(holes.begin(), holes.end(), [](const Hole& a, const Hole& b) { return a.key < b.key; });
    std::vector<uint8_t> mapped(static_cast<size_t>(output.rows) * width, 255);
    auto maskOf = [&](uint64_t key) -> uint8_t& { return mapped[HoleRow(key) * width + HoleColumn(key)]; };
    auto pixelOf = [&](uint64_t key) -> uint8_t& { return RowOf(output, HoleRow(key))[HoleColumn(key)]; };
    std::vector<uint64_t> remaining;
    remaining.reserve(holes.size());
    for (const Hole& hole : holes) {
        maskOf(hole.key) = 0;
        remaining.push_back(hole.key);
    }

    std::vector<uint64_t> unfilled;
    try {
        while (!remaining.empty()) {
            unfilled.clear();
            for (uint64_t key : remaining) {
                const int c = HoleColumn(key);
                const uint8_t* mask = &maskOf(key) - c;
                uint8_t* out = &pixelOf(key) - c;
                int target;
                if (c > 0 && mask[c - 1] == 255) {
                    target = out[c - 1];
                } else if (static_cast<size_t>(c) + 1 < width && mask[c + 1] == 255) {
                    target = out[c + 1];
                } else {
                    unfilled.push_back(key);
                    continue;
                }
                const std::vector<int32_t>& candidates = HoleCandidatesOf(instance, c, holeColumns.raw[c]);
                out[c] = static_cast<uint8_t>(FindClosestValue(candidates, target));
                maskOf(key) = 255;
            }
            if (unfilled.size() == remaining.size()) {
                // Rows the table pass left empty can never fill.
                for (uint64_t key : unfilled) pixelOf(key) = 0;
                return false;
            }
            remaining.swap(unfilled);
        }
    } catch (...) {
        for (const Hole& hole : holes) {
            if (maskOf(hole.key) == 0) pixelOf(hole.key) = hole.before;
        }
        throw;
    }
    return true;
}

}  // namespace

bool ApplyLutWithHoleFill(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                          const cv::Mat& input, cv::Mat& output) {
    const HoleColumns holeColumns = HoleColumnsOf(instance, input.cols);
    std::vector<Hole> holes;
    WriteRegularValues(prepared, input, output, input.rows, &holeColumns, &holes);
    if (holes.empty()) return true;
    return FillHoles(instance, holeColumns, std::move(holes), output);
}

}  // namespace ffc
