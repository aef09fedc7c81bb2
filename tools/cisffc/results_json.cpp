#include "results_json.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "calibration_facts.h"
#include "column_ranges.h"

namespace cisffc {

namespace {

using nlohmann::json;

double ShortestDouble(float value) {
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text - 1, value);
    *result.ptr = '\0';
    return std::strtod(text, nullptr);
}

json FloatList(const std::vector<float>& values) {
    json list = json::array();
    for (float value : values) list.push_back(ShortestDouble(value));
    return list;
}

json FloatLists(const std::vector<std::vector<float>>& rows) {
    json list = json::array();
    for (const auto& row : rows) list.push_back(FloatList(row));
    return list;
}

json Groups(const std::vector<std::vector<int32_t>>& groups) {
    json list = json::array();
    for (const auto& group : groups) list.push_back(FormatColumns(group));
    return list;
}

bool IsFlatArray(const json& value) {
    if (!value.is_array()) return false;
    for (const json& item : value) {
        if (item.is_structured()) return false;
    }
    return true;
}

// Objects and nested lists one entry a line; a list of numbers or names on
// one line, so that a column's table is one line, not 256.
void WriteJson(std::string& text, const json& value, int depth) {
    if (!value.is_structured() || IsFlatArray(value)) {
        text += value.dump();
        return;
    }
    if (value.empty()) {
        text += value.is_array() ? "[]" : "{}";
        return;
    }
    const std::string indent(depth + 1, ' ');
    text += value.is_array() ? "[\n" : "{\n";
    bool first = true;
    for (auto item = value.begin(); item != value.end(); ++item) {
        text += (first ? "" : ",\n") + indent;
        first = false;
        if (value.is_object()) text += json(item.key()).dump() + ": ";
        WriteJson(text, item.value(), depth + 1);
    }
    text += "\n" + std::string(depth, ' ') + (value.is_array() ? "]" : "}");
}

}  // namespace

std::string JsonText(const json& value) {
    std::string text;
    WriteJson(text, value, 0);
    return text + "\n";
}

namespace {

// NaN, which JSON cannot hold, as null.
json Number(double value) { return std::isnan(value) ? json(nullptr) : json(value); }

json VerdictJson(const vyrffc::CalibrationSetVerdict& v) {
    json images = json::array();
    for (const vyrffc::CalibrationImageAssessment& image : v.images) {
        images.push_back({{"index", image.index},
                          {"level", Number(image.level)},
                          {"inside", image.inside},
                          {"clipped", image.clipped},
                          {"rowCorrelation", Number(image.rowCorrelation)},
                          {"sceneLike", image.sceneLike},
                          {"residualNonUniformity", Number(image.residualNonUniformity)}});
    }
    return {{"rangeLow", Number(v.rangeLow)},
            {"rangeHigh", Number(v.rangeHigh)},
            {"correctionMode", v.correctionMode},
            {"images", images},
            {"skippedImages", v.skippedImages},
            {"levelsInside", v.levelsInside},
            {"lowestInside", Number(v.lowestInside)},
            {"highestInside", Number(v.highestInside)},
            {"largestGap", Number(v.largestGap)},
            {"extrapolatesLow", v.extrapolatesLow},
            {"extrapolatesHigh", v.extrapolatesHigh},
            {"clippedImages", v.clippedImages},
            {"sceneLikeImages", v.sceneLikeImages},
            {"flaggedShare", Number(v.flaggedShare)},
            {"residualNonUniformity", Number(v.residualNonUniformity)},
            {"warnings", v.warnings}};
}

}  // namespace

json CalibrationToJson(const Calibration& calibration, const vyrffc::CalibrationSetVerdict* verdict) {
    const vyrffc::Results& r = calibration.results();
    json root;
    // The JSON carries only what the calibration holds, no paths or times, so
    // that two identical calibrations give identical files.
    root["format"] = "cisffc calibration results";
    root["formatVersion"] = kResultsJsonVersion;
    root["libraryVersion"] = vyrffc::LibraryVersion();
    root["parameters"] = {
        {"run", RunName(r.run)},
        {"significantDigits", r.significantDigits},
        {"imageWidth", r.imageWidth},
        {"imageHeight", r.imageHeight},
        {"referenceColumns", FormatColumns(r.referenceColumns)},
        {"columnGroups", Groups(r.columnGroups)},
        {"camera", CameraJson(r.camera)},
    };
    json results;
    results["quadCoeffs"] = FloatLists(r.quadCoeffs);
    results["cubicCoeffs"] = FloatLists(r.cubicCoeffs);
    switch (r.run) {
    case RunKind::kCurrent:
        results["quadGain"] = ShortestDouble(r.quadGain);
        results["quadOffset"] = ShortestDouble(r.quadOffset);
        results["cubicGain"] = ShortestDouble(r.cubicGain);
        results["cubicOffset"] = ShortestDouble(r.cubicOffset);
        results["realQuadGain"] = ShortestDouble(r.realQuadGain);
        results["realCubicGain"] = ShortestDouble(r.realCubicGain);
        [[fallthrough]];
    case RunKind::kPrevious:
        results["fitLowBound"] = ShortestDouble(r.fitLowBound);
        results["fitHighBound"] = ShortestDouble(r.fitHighBound);
        results["columnLuts"] = r.columnLuts;
        results["columnFlags"] = r.columnFlags;
        results["columnDarkRanges"] = r.columnDarkRanges;
        if (r.run == RunKind::kPrevious) results["rangeGain"] = ShortestDouble(r.rangeGain);
        break;
    case RunKind::kSegmented: {
        json pieces = json::array();
        for (const auto& column : r.segQuadCoeffs) pieces.push_back(FloatLists(column));
        results["segQuadPieces"] = pieces;
        results["segQuadBreaks"] = r.segQuadBreaks;
        pieces = json::array();
        for (const auto& column : r.segCubicCoeffs) pieces.push_back(FloatLists(column));
        results["segCubicPieces"] = pieces;
        results["segCubicBreaks"] = r.segCubicBreaks;
        results["incompleteColumns"] = FormatColumns(r.IncompleteColumns());
        break;
    }
    }
    root["results"] = results;
    if (verdict != nullptr) root["calibrationSet"] = VerdictJson(*verdict);
    return root;
}

}  // namespace cisffc
