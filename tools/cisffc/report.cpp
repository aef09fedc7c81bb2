#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <utility>

#include "images.h"
#include "plot.h"
#include "tool_error.h"

namespace cisffc {

namespace {

std::string Format(const char* format, double value) {
    if (std::isnan(value)) return "n/a";
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

// The non-uniformity of an image in %, or what stands in for it.
std::string NonUniformityCell(const Uniformity& u) {
    return u.clipped ? "clipped" : Format("%.3f", 100.0 * u.nonUniformity);
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

// Clipped images leave a gap: their spread is the clipping's.
Series LevelSeries(const std::string& name, const std::vector<Uniformity>& raw, const std::vector<Uniformity>& values,
                   bool peakToPeak, size_t colorIndex) {
    std::vector<size_t> order(raw.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return raw[a].mean < raw[b].mean; });
    Series series{name, PaletteColor(colorIndex), {}, {}, true, 2};
    for (size_t i : order) {
        series.x.push_back(raw[i].mean);
        const double value = peakToPeak ? values[i].peakToPeak : 100.0 * values[i].nonUniformity;
        series.y.push_back(values[i].clipped ? std::numeric_limits<double>::quiet_NaN() : value);
    }
    return series;
}

// The clipped images of every outcome as grey markers along the bottom of a
// level panel, where a 0% figure would otherwise seem to sit.
void MarkClipped(Panel& panel, const std::vector<CorrectionOutcome>& outcomes) {
    double bottom = std::numeric_limits<double>::infinity();
    for (const Series& series : panel.series) {
        for (double y : series.y) {
            if (y > 0.0) bottom = std::min(bottom, y);
        }
    }
    Series clipped{"clipped (no figure)", cv::Scalar::all(120), {}, {}, true, 1, false};
    for (const CorrectionOutcome& outcome : outcomes) {
        for (size_t i = 0; i < outcome.raw.size(); ++i) {
            if (!outcome.raw[i].clipped && !outcome.corrected[i].clipped) continue;
            clipped.x.push_back(outcome.raw[i].mean);
            clipped.y.push_back(std::isfinite(bottom) ? bottom : 1.0);
        }
    }
    if (!clipped.x.empty()) panel.series.push_back(clipped);
}

// Corrected column means minus their mean, in % of it.
Series ResidualSeries(const std::string& name, const std::vector<float>& means, const std::vector<int32_t>& columns,
                      size_t colorIndex) {
    const double mean = MeasureUniformity(means, columns).mean;
    Series series = ProfileSeries(name, means, columns, colorIndex);
    for (double& y : series.y) y = 100.0 * (y - mean) / mean;
    return series;
}

std::string CsvNumber(double value) { return std::isnan(value) ? "" : Format("%.6g", value); }

std::string CsvRow(const std::string& kind, const std::string& name, bool inRange, const Uniformity& raw,
                   const Uniformity& corrected) {
    std::string row = kind + "," + name + "," + (inRange ? "1" : "0");
    // A dark image's spread is its DSNU, in the second table; as a share of
    // a level near 0 it would say nothing.
    const bool dark = kind == "dark";
    for (const Uniformity* u : {&raw, &corrected}) {
        row += "," + CsvNumber(u->mean) + "," + (dark ? "" : CsvNumber(100.0 * u->nonUniformity)) + "," +
               CsvNumber(u->peakToPeak) + "," + (u->clipped ? "1" : "0");
    }
    return row + "\n";
}

// A figure as two fields: its value (in % for `percent`) and 1 when only a
// bound is known; both empty when it cannot be measured.
std::string CsvFigure(const vyrffc::Figure& figure, bool percent) {
    if (std::isnan(figure.value)) return ",";
    return CsvNumber(percent ? 100.0 * figure.value : figure.value) + "," + (figure.bound ? "1" : "0");
}

std::string CsvFigures(const vyrffc::SensorFigures& figures) {
    return CsvFigure(figures.prnu, true) + "," + CsvFigure(figures.dsnu, false) + "," +
           CsvFigure(figures.darkNoise, false);
}

std::string FigureCell(const vyrffc::Figure& figure, bool percent) {
    return vyrffc::FormatFigure(figure, percent, percent ? 3 : 2);
}

// Each reason behind a figure that could not be measured, with the rows it
// holds for.
using Reasons = std::vector<std::pair<std::string, std::string>>;

void AddReasons(Reasons& reasons, const vyrffc::SensorFigures& figures, const std::string& label) {
    std::vector<std::string> added;
    for (const vyrffc::Figure* figure : {&figures.prnu, &figures.dsnu, &figures.darkNoise}) {
        if (!std::isnan(figure->value) || figure->why.empty()) continue;
        if (std::find(added.begin(), added.end(), figure->why) != added.end()) continue;
        added.push_back(figure->why);
        auto known = std::find_if(reasons.begin(), reasons.end(), [&](const auto& r) { return r.first == figure->why; });
        if (known == reasons.end()) {
            reasons.emplace_back(figure->why, label);
        } else {
            known->second += ", " + label;
        }
    }
}

// A name as one CSV field: quoted when it holds a comma, quote or line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\n\r") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
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
            << Padded(NonUniformityCell(outcome.raw[i]), 10)
            << Padded(Format("%.1f", outcome.raw[i].peakToPeak), 9)
            << Padded(Format("%.1f", outcome.corrected[i].mean), 12)
            << Padded(NonUniformityCell(outcome.corrected[i]), 10)
            << Padded(Format("%.1f", outcome.corrected[i].peakToPeak), 10) << "\n";
    }
    const OutcomeSummary summary = Summarize(outcome);
    out << "Inside the fitting range (" << summary.images << " images, columns inside it): NU "
        << Format("%.3f", 100.0 * summary.rawNonUniformity) << "% raw, "
        << Format("%.3f", 100.0 * summary.correctedNonUniformity) << "% corrected ("
        << Format("%.1f", summary.rawNonUniformity / summary.correctedNonUniformity) << "x lower); every column: "
        << Format("%.3f", 100.0 * summary.correctedAllColumns) << "% corrected\n";
    if (summary.clipped > 0) {
        out << summary.clipped << " image(s) inside the range clip at 255 after correction and are left out\n";
    }
    if (!outcome.failure.empty()) out << "Not every image could be corrected: " << outcome.failure << "\n";
}

std::string ReportCsv(const std::vector<FlatImage>& flats, const CorrectionOutcome& outcome,
                      const std::string& darkName, const std::vector<CorrectionOutcome>& compared) {
    std::string csv =
        "kind,image,in_fitting_range,raw_mean,raw_nu_percent,raw_peak_to_peak,raw_clipped,corrected_mean,"
        "corrected_nu_percent,corrected_peak_to_peak,corrected_clipped\n";
    for (size_t i = 0; i < flats.size(); ++i) {
        csv += CsvRow("flat", CsvField(flats[i].name), outcome.inRange[i], outcome.raw[i], outcome.corrected[i]);
    }
    if (outcome.hasDark) csv += CsvRow("dark", CsvField(darkName), false, outcome.rawDark, outcome.correctedDark);
    csv += "\ncorrection,images,nu_percent,worst_nu_percent,prnu_percent,prnu_is_bound,dsnu_dn,dsnu_is_bound,"
           "dark_noise_dn,dark_noise_is_bound,failed_images,flat_image,dark_image\n";
    const std::string flat = outcome.figureFlat >= 0 ? CsvField(flats[outcome.figureFlat].name) : "";
    const std::string images = "," + flat + "," + (outcome.hasDark ? CsvField(darkName) : "") + "\n";
    const OutcomeSummary rawSummary = Summarize(outcome);
    csv += "raw," + std::to_string(rawSummary.images) + "," + CsvNumber(100.0 * rawSummary.rawNonUniformity) + ",," +
           CsvFigures(outcome.rawFigures) + ",0" + images;
    for (const CorrectionOutcome& mode : compared) {
        const OutcomeSummary summary = Summarize(mode);
        csv += CsvField(mode.label) + "," + std::to_string(summary.images) + "," +
               CsvNumber(100.0 * summary.correctedNonUniformity) + "," + CsvNumber(100.0 * summary.worstCorrected) +
               "," + CsvFigures(mode.correctedFigures) + "," + std::to_string(mode.failures) + images;
    }
    return csv;
}

void PrintSensorFigures(std::ostream& out, const std::vector<FlatImage>& flats,
                        const std::vector<CorrectionOutcome>& outcomes, const std::string& darkName,
                        const vyrffc::SensorFigures* truth) {
    const CorrectionOutcome& first = outcomes.front();
    if (!first.hasDark) {
        out << "PRNU and DSNU need a dark image: name one with --dark, or keep it as " << kDarkImageName
            << " beside the flat images\n";
        return;
    }
    if (first.figureFlat < 0) {
        out << "PRNU and DSNU need a flat image of 2 rows or more that does not clip; none is\n";
        return;
    }
    const vyrffc::SensorFigures& raw = first.rawFigures;
    out << "Sensor figures as EMVA 1288 defines them for a line sensor (flat image " << flats[first.figureFlat].name
        << " at " << Format("%.1f", raw.flat.mean) << ", nearest half of saturation; dark image " << darkName
        << " at " << Format("%.1f", raw.dark.mean) << ";\n  each image's " << raw.flat.rows
        << " rows are exposures of one line: their temporal variance over L is taken off the spatial variance)\n";
    out << "  correction                  PRNU        DSNU   dark noise\n";
    Reasons reasons;
    auto row = [&](const std::string& label, const vyrffc::SensorFigures& figures) {
        std::string name = label.substr(0, 24);
        name += std::string(24 - name.size(), ' ');
        out << "  " << name << Padded(FigureCell(figures.prnu, true), 10) << Padded(FigureCell(figures.dsnu, false), 12)
            << Padded(FigureCell(figures.darkNoise, false), 13) << "\n";
        AddReasons(reasons, figures, label);
    };
    row("raw", raw);
    for (const CorrectionOutcome& outcome : outcomes) row(outcome.label, outcome.correctedFigures);
    if (truth != nullptr) row("simulator, true values", *truth);
    for (const auto& [why, labels] : reasons) out << "  n/a: " << why << " (" << labels << ")\n";
}

void PrintComparisonTable(std::ostream& out, const std::vector<CorrectionOutcome>& outcomes) {
    out << "Non-uniformity inside the fitting range, per run and mode: mean over the flat images there, measured\n"
           "over the columns inside it (all cols: every column, dark and edge columns included); PRNU corrected\n";
    out << "  run and mode            images  raw NU%  corr NU%  lower by  worst NU%  corr p-p  all cols NU%"
           "      PRNU  failed  calibrate s  correct s\n";
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
            << Padded(FigureCell(outcome.correctedFigures.prnu, true), 10)
            << Padded(std::to_string(outcome.failures), 8)
            // A calibration read from its file took no calibrating here.
            << Padded(outcome.calibrationSeconds > 0.0 ? Format("%.3f", outcome.calibrationSeconds) : "-", 13)
            << Padded(Format("%.3f", outcome.correctionSeconds), 11) << "\n";
        if (!outcome.failure.empty()) out << "      (failed on " << outcome.failures << " image(s): " << outcome.failure << ")\n";
    }
}

std::string BestModeLine(const std::vector<CorrectionOutcome>& outcomes) {
    const int best = BestOutcome(outcomes);
    if (best < 0) return "Best: none, no mode corrected every image";
    return "Best: " + outcomes[best].label + ", NU " +
           Format("%.3f", 100.0 * Summarize(outcomes[best]).correctedNonUniformity) +
           "% (lowest of the modes that corrected every image)";
}

double ParsePercentLimit(const std::string& text, const std::string& optionName) {
    std::string number = text;
    while (!number.empty() && number.back() == ' ') number.pop_back();
    if (!number.empty() && number.back() == '%') number.pop_back();
    while (!number.empty() && number.back() == ' ') number.pop_back();
    char* end = nullptr;
    const double value = number.empty() ? std::nan("") : std::strtod(number.c_str(), &end);
    if (number.empty() || end != number.c_str() + number.size() || !std::isfinite(value) || value <= 0.0 ||
        number.find_first_not_of("0123456789.") != std::string::npos) {
        FailUsage(optionName + ": \"" + text + "\" is not a percentage (say 1% or 0.5)");
    }
    return value / 100.0;
}

std::vector<AcceptanceCheck> CheckAcceptance(const CorrectionOutcome& outcome, const AcceptanceLimits& limits) {
    std::vector<AcceptanceCheck> checks;
    const auto percent = [](double fraction) { return Format("%g", 100.0 * fraction) + "%"; };
    if (!std::isnan(limits.maxPrnu)) {
        const vyrffc::Figure& prnu = outcome.correctedFigures.prnu;
        if (std::isnan(prnu.value)) {
            const std::string why = prnu.why.empty() ? "no dark image" : prnu.why;
            checks.push_back({"PRNU cannot be measured (" + why + "), the limit is " + percent(limits.maxPrnu), false});
        } else {
            const bool passed = prnu.value <= limits.maxPrnu;
            checks.push_back({"PRNU " + FigureCell(prnu, true) + (passed ? " <= " : " > ") + percent(limits.maxPrnu),
                              passed});
        }
    }
    if (!std::isnan(limits.maxNonUniformity)) {
        const OutcomeSummary summary = Summarize(outcome);
        if (summary.images == 0) {
            checks.push_back({"NU cannot be measured: no image lies inside the fitting range", false});
        } else {
            const bool passed = summary.correctedNonUniformity <= limits.maxNonUniformity;
            checks.push_back({"NU " + Format("%.3f", 100.0 * summary.correctedNonUniformity) + "%" +
                                  (passed ? " <= " : " > ") + percent(limits.maxNonUniformity),
                              passed});
        }
    }
    return checks;
}

cv::Mat DrawReport(const std::string& title, const std::vector<FlatImage>& flats,
                   const std::vector<CorrectionOutcome>& outcomes, size_t profileOutcome, const std::string& footer,
                   const std::string& role, const std::vector<std::string>& notes) {
    const CorrectionOutcome& shown = outcomes[profileOutcome];
    Panel before{"Column profiles before correction", "column", "mean gray value", {}};
    Panel after{"Column profiles after correction (" + shown.label + ")", "column", "mean gray value", {}};
    Panel residual{"Left after correction: column mean minus the line's mean", "column", "residual, %", {}};
    size_t color = 0;
    for (size_t i : ProfileLevels(shown)) {
        const std::string name = "level " + Format("%.0f", shown.raw[i].mean);
        before.series.push_back(ProfileSeries(name, flats[i].columnMeans, shown.columns, color));
        after.series.push_back(ProfileSeries(name, shown.correctedMeans[i], shown.columns, color));
        residual.series.push_back(ResidualSeries(name, shown.correctedMeans[i], shown.columns, color));
        ++color;
    }
    // Drawn last, over the curves, on the brightest level's residual.
    if (!shown.flaggedColumns.empty() && !residual.series.empty()) {
        const Series brightest = residual.series.back();
        Series flagged{"flagged dark columns", PaletteColor(3), {}, {}, true, 1, false};
        for (size_t k = 0; k < brightest.x.size(); ++k) {
            const auto column = static_cast<int32_t>(brightest.x[k]);
            if (!std::binary_search(shown.flaggedColumns.begin(), shown.flaggedColumns.end(), column)) continue;
            flagged.x.push_back(brightest.x[k]);
            flagged.y.push_back(brightest.y[k]);
        }
        residual.series.push_back(flagged);
    }
    Panel nonUniformity{"Non-uniformity versus level (std/mean of column means)", "raw mean gray level",
                        "non-uniformity, % (log scale)", {}, true};
    nonUniformity.shadeLow = shown.fittingRange.low;
    nonUniformity.shadeHigh = shown.fittingRange.high;
    nonUniformity.shadeName = "fitting range (raw " + Format("%.0f", shown.fittingRange.low) + ".." +
                              Format("%.0f", shown.fittingRange.high) + ")";
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
    MarkClipped(nonUniformity, outcomes);
    MarkClipped(peakToPeak, outcomes);

    const OutcomeSummary summary = Summarize(shown);
    Panel figures{"In figures: " + shown.label + " (" + role + ")", "", "", {}};
    figures.text.push_back("Inside the fitting range (" + std::to_string(summary.images) + " images): non-uniformity " +
                           Format("%.3f", 100.0 * summary.rawNonUniformity) + "% raw, " +
                           Format("%.3f", 100.0 * summary.correctedNonUniformity) + "% corrected");
    if (summary.clipped > 0) {
        figures.text.push_back(std::to_string(summary.clipped) + " image(s) clip at 255 after correction, left out");
    }
    if (shown.figureFlat >= 0) {
        const vyrffc::SensorFigures& raw = shown.rawFigures;
        const vyrffc::SensorFigures& corrected = shown.correctedFigures;
        figures.text.push_back("EMVA 1288, line sensor (" + flats[shown.figureFlat].name + ", dark image):");
        figures.text.push_back("  PRNU " + FigureCell(raw.prnu, true) + " raw, " + FigureCell(corrected.prnu, true) +
                               " corrected");
        figures.text.push_back("  DSNU " + FigureCell(raw.dsnu, false) + " raw, " + FigureCell(corrected.dsnu, false) +
                               " corrected; dark noise " + FigureCell(raw.darkNoise, false) + " raw");
    } else {
        figures.text.push_back("PRNU and DSNU: no dark image, or every flat image clips");
    }
    figures.text.push_back(std::to_string(shown.flaggedColumns.size()) + " column(s) flagged as dark");
    figures.text.insert(figures.text.end(), notes.begin(), notes.end());
    figures.text.push_back("Compared (mean NU inside the fitting range, PRNU corrected):");
    for (const CorrectionOutcome& outcome : outcomes) {
        std::string line = "  " + outcome.label + ": NU " +
                           Format("%.3f", 100.0 * Summarize(outcome).correctedNonUniformity) + "%, PRNU " +
                           FigureCell(outcome.correctedFigures.prnu, true);
        if (outcome.failures > 0) line += ", failed on " + std::to_string(outcome.failures) + " image(s)";
        figures.text.push_back(line);
    }
    return DrawFigure(title, {before, after, residual, nonUniformity, peakToPeak, figures}, 2, cv::Size(760, 430),
                      footer);
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

}  // namespace cisffc
