#include "results_json.h"

#include <charconv>
#include <cstdlib>
#include <filesystem>

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

}  // namespace

json CalibrationToJson(const Calibration& calibration) {
    const CalibrationSettings& settings = calibration.settings;
    json root;
    root["parameters"] = {
        {"folder", calibration.scan.folder},
        {"run", RunName(settings.run)},
        {"significantDigits", settings.significantDigits},
        {"imageWidth", settings.imageWidth},
        {"imageHeight", settings.imageHeight},
        {"referenceColumns", FormatColumns(settings.referenceColumns)},
        {"columnGroups", Groups(settings.columnGroups)},
    };
    root["images"] = {
        {"found", calibration.counts.found},
        {"used", calibration.counts.used},
        {"skippedWrongSize", calibration.counts.wrongSize},
        {"skippedUnreadable", calibration.counts.unreadable},
    };
    json results;
    results["succeeded"] = calibration.succeeded;
    results["seconds"] = calibration.seconds;
    results["quadCoeffs"] = FloatLists(calibration.quadCoeffs);
    results["cubicCoeffs"] = FloatLists(calibration.cubicCoeffs);
    switch (settings.run) {
    case RunKind::Current:
        results["quadGain"] = ShortestDouble(calibration.quadGain);
        results["quadOffset"] = ShortestDouble(calibration.quadOffset);
        results["cubicGain"] = ShortestDouble(calibration.cubicGain);
        results["cubicOffset"] = ShortestDouble(calibration.cubicOffset);
        results["realQuadGain"] = ShortestDouble(calibration.realQuadGain);
        results["realCubicGain"] = ShortestDouble(calibration.realCubicGain);
        [[fallthrough]];
    case RunKind::Previous: {
        json flags = json::array();
        for (bool flag : calibration.columnFlags) flags.push_back(flag);
        results["columnFlags"] = flags;
        results["columnDarkRanges"] = calibration.columnDarkRanges;
        if (settings.run == RunKind::Previous) results["rangeGain"] = ShortestDouble(calibration.rangeGain);
        break;
    }
    case RunKind::Segmented: {
        json pieces = json::array();
        for (const auto& column : calibration.segmentPieces) pieces.push_back(FloatLists(column));
        results["segQuadPieces"] = pieces;
        results["segQuadBreaks"] = calibration.segmentBreaks;
        results["incompleteColumns"] = FormatColumns(calibration.incompleteColumns());
        break;
    }
    }
    root["results"] = results;
    return root;
}

}  // namespace cisffc
