#include "eval/correction_shapes.h"

#include <algorithm>

#include "eval/dark_range.h"

namespace ffc {

namespace {

// How the regular pixels between dark pixels reach the output: evaluated as
// the row is walked, or already written by the table pass.
struct EvaluatedRuns {
    const RegularValues* values;
    void Write(const uint8_t* in, uint8_t* out, int begin, int end) const {
        for (int c = begin; c < end; ++c) out[c] = values->Evaluate(c, in[c]);
    }
    int ValueAt(const uint8_t* in, const uint8_t* /*out*/, int c) const { return values->Evaluate(c, in[c]); }
};

struct PrewrittenRuns {
    void Write(const uint8_t* /*in*/, uint8_t* /*out*/, int /*begin*/, int /*end*/) const {}
    int ValueAt(const uint8_t* /*in*/, const uint8_t* out, int c) const { return out[c]; }
};

// The columns whose raw 0 makes a dark pixel, and per row the dark pixels.
struct DarkColumns {
    std::vector<int> flagged;
    std::vector<int> inRow;
    bool anyEmptyList = false;

    DarkColumns(const FlatFieldCorrectionInstance& instance, int width) {
        for (int c = 0; c < width; ++c) {
            if (!ColumnIsFlagged(instance, c)) continue;
            flagged.push_back(c);
            anyEmptyList = anyEmptyList || DarkRangesOf(instance, c).empty();
        }
        inRow.reserve(flagged.size());
    }

    // The dark columns of a row, left to right; their count.
    size_t Collect(const uint8_t* in) {
        inRow.clear();
        for (int c : flagged) {
            if (in[c] == 0) inRow.push_back(c);
        }
        return inRow.size();
    }

    // How many dark pixels stand at columns 0, 1, 2, ... without a gap.
    size_t LeadingRun() const {
        size_t lead = 0;
        while (lead < inRow.size() && inRow[lead] == static_cast<int>(lead)) ++lead;
        return lead;
    }
};

// The pixels from `begin` to the row's end: each dark pixel takes its left
// neighbour's value clamped into its range, the runs between them their
// regular values. `running` enters as the value left of `begin` and leaves as
// the row's last value.
template <class Runs>
void WriteFromLeft(const FlatFieldCorrectionInstance& instance, const Runs& runs, const std::vector<int>& darks,
                   size_t firstDark, const uint8_t* in, uint8_t* out, int begin, int width, int& running) {
    int next = begin;
    for (size_t i = firstDark; i < darks.size(); ++i) {
        const int dark = darks[i];
        if (next < dark) {
            runs.Write(in, out, next, dark);
            running = out[dark - 1];
        }
        running = ClampToDarkRange(DarkRangesOf(instance, dark), running);
        out[dark] = static_cast<uint8_t>(running);
        next = dark + 1;
    }
    if (next < width) {
        runs.Write(in, out, next, width);
        running = out[width - 1];
    }
}

template <class Runs>
void DarkBackwardRow(const FlatFieldCorrectionInstance& instance, const Runs& runs, DarkColumns& darks,
                     const uint8_t* in, uint8_t* out, int width, int& running) {
    darks.Collect(in);
    const int lead = static_cast<int>(darks.LeadingRun());
    WriteFromLeft(instance, runs, darks.inRow, lead, in, out, lead, width, running);
    if (lead == 0) return;
    // The leading dark run, from its first regular pixel leftwards; a row dark
    // from end to end starts from the running value as it stands.
    if (lead < width) running = out[lead];
    for (int c = lead - 1; c >= 0; --c) {
        running = ClampToDarkRange(DarkRangesOf(instance, c), running);
        out[c] = static_cast<uint8_t>(running);
    }
}

template <class Runs>
void DarkForwardRow(const FlatFieldCorrectionInstance& instance, const Runs& runs, DarkColumns& darks,
                    const uint8_t* in, uint8_t* out, int width, int& running) {
    size_t firstDark = 0;
    int begin = 0;
    if (darks.Collect(in) > 0 && darks.inRow[0] == 0) {
        // A dark column 0 takes the row's first regular value unclamped; a row
        // dark from end to end clamps it like any other dark pixel.
        const int firstRegular = static_cast<int>(darks.LeadingRun());
        if (firstRegular < width) {
            running = runs.ValueAt(in, out, firstRegular);
        } else {
            running = ClampToDarkRange(DarkRangesOf(instance, 0), running);
        }
        out[0] = static_cast<uint8_t>(running);
        firstDark = 1;
        begin = 1;
    }
    WriteFromLeft(instance, runs, darks.inRow, firstDark, in, out, begin, width, running);
}

// The first row in which a dark pixel needs an empty range list (the rows
// count if none): rows before it cannot throw.
int FirstRowThatThrows(const FlatFieldCorrectionInstance& instance, DarkColumns& darks, const cv::Mat& input,
                       bool backward) {
    if (!darks.anyEmptyList) return input.rows;
    for (int r = 0; r < input.rows; ++r) {
        if (darks.Collect(RowOf(input, r)) == 0) continue;
        const bool wholeRowDark = darks.LeadingRun() == static_cast<size_t>(input.cols);
        for (int c : darks.inRow) {
            const bool clamped = backward || c > 0 || wholeRowDark;
            if (clamped && DarkRangesOf(instance, c).empty()) return r;
        }
    }
    return input.rows;
}

bool SharesMemory(const cv::Mat& a, const cv::Mat& b) {
    return a.datastart < b.dataend && b.datastart < a.dataend;
}

// Regular values first, through the tables, then the dark pixels row by row.
// Rows from the first one that throws on are walked pixel by pixel, so that an
// exception leaves the output as the rules write it. An output sharing the
// input's memory is walked pixel by pixel throughout: the table pass would
// overwrite raw values the dark pixels are found by.
template <bool kBackward>
void CorrectDarkRows(const FlatFieldCorrectionInstance& instance, const RegularValues& values, const cv::Mat& input,
                     cv::Mat& output) {
    const int width = input.cols;
    DarkColumns darks(instance, width);
    auto correctRow = [&](const auto& runs, int r, int& running) {
        if (kBackward) {
            DarkBackwardRow(instance, runs, darks, RowOf(input, r), RowOf(output, r), width, running);
        } else {
            DarkForwardRow(instance, runs, darks, RowOf(input, r), RowOf(output, r), width, running);
        }
    };
    int running = 0;
    int r = 0;
    if (WorthTabulating(input.rows) && !SharesMemory(input, output)) {
        const int rowEnd = FirstRowThatThrows(instance, darks, input, kBackward);
        WriteRegularValues(values, input, output, rowEnd);
        for (; r < rowEnd; ++r) correctRow(PrewrittenRuns{}, r, running);
    }
    for (; r < input.rows; ++r) correctRow(EvaluatedRuns{&values}, r, running);
}

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

void ApplyPolyvalInt(const RegularValues& values, const cv::Mat& input, cv::Mat& output) {
    if (WorthTabulating(input.rows)) {
        WriteRegularValues(values, input, output, input.rows);
        return;
    }
    const EvaluatedRuns runs{&values};
    for (int r = 0; r < input.rows; ++r) runs.Write(RowOf(input, r), RowOf(output, r), 0, input.cols);
}

void ApplyDarkBackward(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                       const cv::Mat& input, cv::Mat& output) {
    CorrectDarkRows<true>(instance, values, input, output);
}

void ApplyDarkForward(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                      const cv::Mat& input, cv::Mat& output) {
    CorrectDarkRows<false>(instance, values, input, output);
}

bool ApplyLutWithHoleFill(const FlatFieldCorrectionInstance& instance, const RegularValues& values,
                          const cv::Mat& input, cv::Mat& output) {
    const HoleColumns holeColumns = HoleColumnsOf(instance, input.cols);
    std::vector<Hole> holes;
    if (WorthTabulating(input.rows)) {
        WriteRegularValues(values, input, output, input.rows, &holeColumns, &holes);
    } else {
        for (int r = 0; r < input.rows; ++r) {
            const uint8_t* in = RowOf(input, r);
            uint8_t* out = RowOf(output, r);
            for (int c = 0; c < input.cols; ++c) {
                if (holeColumns.hasHoles[c] && in[c] == holeColumns.raw[c]) {
                    holes.push_back({MakeHoleKey(c, r), out[c]});
                } else {
                    out[c] = values.Evaluate(c, in[c]);
                }
            }
        }
    }
    if (holes.empty()) return true;
    return FillHoles(instance, holeColumns, std::move(holes), output);
}

}  // namespace ffc
