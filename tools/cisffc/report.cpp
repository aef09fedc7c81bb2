#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "plot.h"

namespace cisffc {

namespace {

std::string Format(const char* format, double value) {
    if (std::isnan(value)) return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string Padded(const std::string& text, size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

// The flat images whose profiles are drawn: the darkest, middle and brightest
// inside the fitting range (or of all images when none is inside).
std::vector<size_t> ProfileLevels(const CorrectionOutcome& outcome) {
    std::vector<size_t> candidates;
    for (size_t i = 0; i < outcome.raw.size(); ++i) {
        if (outcome.inRange[i]) candidates.push_back(i);
    }
    if (candidates.empty()) {
        candidates.resize(outcome.raw.size());
        std::iota(candidates.begin(), candidates.end(), size_t{0});
    }
    std::sort(candidates.begin(), candidates.end(),
              [&](size_t a, size_t b) { return outcome.raw[a].mean < outcome.raw[b].mean; });
    if (candidates.size() <= 3) return candidates;
    return {candidates.front(), candidates[candidates.size() / 2], candidates.back()};
}

Series ProfileSeries(const std::string& name, const std::vector<float>& means, const std::vector<int32_t>& columns,
                     size_t colorIndex) {
    Series series{name, PaletteColor(colorIndex), {}, {}};
    for (int32_t c : columns) {
        series.x.push_back(c);
        series.y.push_back(means[c]);
    }
    return series;
}

Series LevelSeries(const std::string& name, const std::vector<Uniformity>& raw, const std::vector<Uniformity>& values,
                   bool peakToPeak, size_t colorIndex) {
    std::vector<size_t> order(raw.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return raw[a].mean < raw[b].mean; });
    Series series{name, PaletteColor(colorIndex), {}, {}, true, 2};
    for (size_t i : order) {
        series.x.push_back(raw[i].mean);
        series.y.push_back(peakToPeak ? values[i].peakToPeak : 100.0 * values[i].nonUniformity);
    }
    return series;
}

}  // namespace

void PrintLevelTable(std::ostream& out, const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome) {
    out << "Non-uniformity per flat image, " << outcome.label
        << " (* = inside the fitting range; NU = std/mean of the column means)\n";
    out << "  image                     raw mean   raw NU%  raw p-p   corr mean  corr NU%  corr p-p\n";
    for (size_t i = 0; i < flats.size(); ++i) {
        std::string name = flats[i].name.substr(0, 24);
        name += std::string(24 - name.size(), ' ');
        out << (outcome.inRange[i] ? "* " : "  ") << name << Padded(Format("%.1f", outcome.raw[i].mean), 10)
            << Padded(Format("%.3f", 100.0 * outcome.raw[i].nonUniformity), 10)
            << Padded(Format("%.1f", outcome.raw[i].peakToPeak), 9)
            << Padded(Format("%.1f", outcome.corrected[i].mean), 12)
            << Padded(Format("%.3f", 100.0 * outcome.corrected[i].nonUniformity), 10)
            << Padded(Format("%.1f", outcome.corrected[i].peakToPeak), 10) << "\n";
    }
    const OutcomeSummary summary = Summarize(outcome);
    out << "Inside the fitting range (" << summary.images << " images, columns inside it): NU "
        << Format("%.3f", 100.0 * summary.rawNonUniformity) << "% raw, "
        << Format("%.3f", 100.0 * summary.correctedNonUniformity) << "% corrected ("
        << Format("%.1f", summary.rawNonUniformity / summary.correctedNonUniformity) << "x lower); every column: "
        << Format("%.3f", 100.0 * summary.correctedAllColumns) << "% corrected\n";
    if (!outcome.failure.empty()) out << "Not every image could be corrected: " << outcome.failure << "\n";
}

void PrintComparisonTable(std::ostream& out, const std::vector<CorrectionOutcome>& outcomes) {
    out << "Non-uniformity inside the fitting range, per run and mode: mean over the flat images there, measured\n"
           "over the columns inside it (all cols: every column, dark and edge columns included)\n";
    out << "  run and mode            images  raw NU%  corr NU%  lower by  worst NU%  corr p-p  all cols NU%"
           "  calibrate s  correct s\n";
    for (const CorrectionOutcome& outcome : outcomes) {
        const OutcomeSummary summary = Summarize(outcome);
        std::string label = outcome.label.substr(0, 22);
        label += std::string(22 - label.size(), ' ');
        out << "  " << label << Padded(std::to_string(summary.images), 8)
            << Padded(Format("%.3f", 100.0 * summary.rawNonUniformity), 9)
            << Padded(Format("%.3f", 100.0 * summary.correctedNonUniformity), 10)
            << Padded(Format("%.1fx", summary.rawNonUniformity / summary.correctedNonUniformity), 10)
            << Padded(Format("%.3f", 100.0 * summary.worstCorrected), 11)
            << Padded(Format("%.2f", summary.correctedPeakToPeak), 10)
            << Padded(Format("%.3f", 100.0 * summary.correctedAllColumns), 14)
            << Padded(Format("%.3f", outcome.calibrationSeconds), 13)
            << Padded(Format("%.3f", outcome.correctionSeconds), 11) << "\n";
        if (!outcome.failure.empty()) out << "      (not every image could be corrected: " << outcome.failure << ")\n";
    }
}

cv::Mat DrawReport(const std::string& title, const std::vector<FlatImage>& flats,
                   const std::vector<CorrectionOutcome>& outcomes, size_t profileOutcome) {
    const CorrectionOutcome& shown = outcomes[profileOutcome];
    Panel before{"Column profiles before correction", "column", "mean gray value", {}};
    Panel after{"Column profiles after correction (" + shown.label + ")", "column", "mean gray value", {}};
    size_t color = 0;
    for (size_t i : ProfileLevels(shown)) {
        const std::string name = "level " + Format("%.0f", shown.raw[i].mean);
        before.series.push_back(ProfileSeries(name, flats[i].columnMeans, shown.columns, color));
        after.series.push_back(ProfileSeries(name, shown.correctedMeans[i], shown.columns, color));
        ++color;
    }
    Panel nonUniformity{"Non-uniformity versus level (std/mean of column means)", "raw mean gray level",
                        "non-uniformity, % (log scale)", {}, true};
    Panel peakToPeak{"Peak-to-peak of the column means versus level", "raw mean gray level",
                     "peak-to-peak, gray levels (log scale)", {}, true};
    nonUniformity.series.push_back(LevelSeries("raw", shown.raw, shown.raw, false, 3));
    peakToPeak.series.push_back(LevelSeries("raw", shown.raw, shown.raw, true, 3));
    for (size_t k = 0; k < outcomes.size(); ++k) {
        const size_t outcomeColor = k < 3 ? k : k + 1;  // red stays the raw curve's
        nonUniformity.series.push_back(
            LevelSeries(outcomes[k].label, outcomes[k].raw, outcomes[k].corrected, false, outcomeColor));
        peakToPeak.series.push_back(
            LevelSeries(outcomes[k].label, outcomes[k].raw, outcomes[k].corrected, true, outcomeColor));
    }
    return DrawFigure(title, {before, after, nonUniformity, peakToPeak}, 2, cv::Size(760, 430));
}

}  // namespace cisffc
