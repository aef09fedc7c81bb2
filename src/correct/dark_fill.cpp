#include "correct/dark_fill.h"

#include "correct/fill_choices.h"
#include "correct/image_rows.h"
#include "instance/column_readers.h"

namespace ffc {

namespace {

// How the regular pixels between dark pixels reach the output: evaluated as
// the row is walked, or already written by the table pass.
struct EvaluatedRuns {
    const PreparedRule* prepared;
    void Write(const uint8_t* in, uint8_t* out, int begin, int end) const { prepared->WriteRow(in, out, begin, end); }
    int ValueAt(const uint8_t* in, const uint8_t* /*out*/, int c) const { return prepared->Evaluate(c, in[c]); }
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

// Regular values first, by the strip lookup, then the dark pixels row by row.
// Rows from the first one that throws on are walked pixel by pixel, so that an
// exception leaves the output as the rules write it. An output sharing the
// input's memory is walked pixel by pixel throughout: the strip lookup would
// overwrite raw values the dark pixels are found by.
template <bool kBackward>
void CorrectDarkRows(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared, const cv::Mat& input,
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
    if (!SharesMemory(input, output)) {
        const int rowEnd = FirstRowThatThrows(instance, darks, input, kBackward);
        WriteRegularValues(prepared, input, output, rowEnd);
        for (; r < rowEnd; ++r) correctRow(PrewrittenRuns{}, r, running);
    }
    for (; r < input.rows; ++r) correctRow(EvaluatedRuns{&prepared}, r, running);
}

}  // namespace

void ApplyDarkBackward(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                       const cv::Mat& input, cv::Mat& output) {
    CorrectDarkRows<true>(instance, prepared, input, output);
}

void ApplyDarkForward(const FlatFieldCorrectionInstance& instance, const PreparedRule& prepared,
                      const cv::Mat& input, cv::Mat& output) {
    CorrectDarkRows<false>(instance, prepared, input, output);
}

}  // namespace ffc
