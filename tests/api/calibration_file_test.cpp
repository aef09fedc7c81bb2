// The calibration file: each run and each table encoding round-trips bit for
// bit, files of the first format still load, and a damaged header, an
// impossible value behind a valid checksum or something that is not a
// regular file is refused with its reason, never with another exception.
#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "VyrCISFlatfieldCorrection.hpp"
#include "api/calibration_file.h"
#include "cis_simulator.h"
#include "support/calibration_file_bytes.h"
#include "support/temp_folder.h"

namespace vyrffc {
namespace {

using Json = nlohmann::json;
constexpr int kWidth = 24;

std::string ReadBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The file with its header edited as JSON, padded and signed again.
std::string EditedHeader(const std::string& file, const std::function<void(Json&)>& edit) {
    uint64_t length = 0;
    std::memcpy(&length, file.data(), 8);
    Json header = Json::parse(file.substr(8, length));
    edit(header);
    std::string text = header.dump();
    text.append((8 - text.size() % 8) % 8, ' ');
    std::string prefix(8, '\0');
    const uint64_t newLength = text.size();
    std::memcpy(prefix.data(), &newLength, 8);
    return ffc::testing::Resigned(prefix + text + file.substr(8 + length));
}

void ExpectRefused(const std::string& contents, ErrorReason reason, const std::string& words,
                   const std::string& label) {
    try {
        ReadCalibrationFile(contents);
        ADD_FAILURE() << "accepted: " << label;
    } catch (const Error& error) {
        EXPECT_EQ(error.reason(), reason) << label << ": " << error.what();
        EXPECT_NE(std::string(error.what()).find(words), std::string::npos) << label << ": " << error.what();
    }
}

class CalibrationFile : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new ffc::testing::TempFolder();
        cissim::SimulatorOptions options;
        options.width = kWidth;
        options.height = 2;
        options.chips = 1;
        options.darkColumns = 2;
        cissim::WriteCalibrationFolder(folder_->path(), options);
        for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
            Settings settings;
            settings.run = run;
            settings.groupWidth = 8;
            results_.push_back(CalibrateFolder(folder_->path(), settings).results());
        }
    }
    static void TearDownTestSuite() {
        results_.clear();
        delete folder_;
    }

    inline static ffc::testing::TempFolder* folder_ = nullptr;
    inline static std::vector<Results> results_;  // current, previous, segmented
};

TEST_F(CalibrationFile, EachRunAndTableEncodingRoundTripsBitForBit) {
    // A dim column's table goes on above 255 in steps wider than a byte;
    // steps beyond 16 bits keep the tables whole.
    Results wideSteps = results_[0];
    for (int k = 200; k < 256; ++k) wideSteps.columnLuts[3][k] = wideSteps.columnLuts[3][k - 1] + 200;
    Results wholeTables = results_[1];
    wholeTables.columnLuts[5][0] = -65535;
    wholeTables.columnLuts[5][1] = 65535;
    const std::pair<Results, const char*> cases[] = {
        {results_[0], "\"dtype\":\"I8\""},  {results_[1], "\"dtype\":\"I8\""},
        {results_[2], "segCubicBreaks"},    {wideSteps, "\"dtype\":\"I16\""},
        {wholeTables, "\"columnLuts\""},
    };
    ffc::testing::TempFolder out;
    for (const auto& [results, encoding] : cases) {
        const std::string bytes = WriteCalibrationFile(results);
        EXPECT_NE(bytes.find(encoding), std::string::npos) << encoding;
        const Results read = ReadCalibrationFile(bytes);
        EXPECT_EQ(read.columnLuts, results.columnLuts) << encoding;
        EXPECT_EQ(read.columnDarkRanges, results.columnDarkRanges) << encoding;
        EXPECT_EQ(read.segCubicCoeffs, results.segCubicCoeffs) << encoding;
        EXPECT_EQ(read.columnGroups, results.columnGroups) << encoding;
        EXPECT_EQ(WriteCalibrationFile(read), bytes) << encoding;
        std::ofstream(out.path() + "file.ffcal", std::ios::binary) << bytes;
        EXPECT_EQ(Calibration::Load(out.path() + "file.ffcal").Serialize(), bytes) << encoding;
    }
}

// Written by release 0.2.0: a current run of a simulated 16-column module.
TEST_F(CalibrationFile, FilesOfTheFirstFormatStillLoad) {
    const std::string old = ReadBytes(FFC_API_TEST_DATA "current_run_format1.ffcal");
    ASSERT_NE(old.find("\"formatVersion\":\"1\""), std::string::npos);
    const Calibration calibration = Calibration::Load(FFC_API_TEST_DATA "current_run_format1.ffcal");
    const Results& results = calibration.results();
    EXPECT_EQ(results.run, CalibrationRun::kCurrent);
    EXPECT_EQ(results.imageWidth, 16);
    std::vector<int32_t> flagged;
    for (int c = 0; c < 16; ++c) {
        if (results.columnFlags[c] == -1) flagged.push_back(c);
    }
    EXPECT_EQ(flagged, (std::vector<int32_t>{6, 10}));
    EXPECT_EQ(results.columnDarkRanges[10], (std::vector<int32_t>{3, 26}));
    EXPECT_EQ(results.columnLuts[15][255], 254);
    EXPECT_EQ(ReadCalibrationFile(calibration.Serialize()).columnLuts, results.columnLuts);

    std::string flipped = old;
    flipped[flipped.size() - 200] ^= 1;
    ExpectRefused(flipped, ErrorReason::kFileCorrupt, "checksum", "format 1, flipped");
}

// Written before cameras were named and set residuals kept: they load with
// neither, and a file that has them keeps them, notes included, through a
// write and a read.
TEST_F(CalibrationFile, TheCameraAndSetResidualsAreKeptAndFilesOfEarlierFormatsHaveNone) {
    for (const char* name : {"current_run_format1.ffcal", "previous_run_format2.ffcal"}) {
        const Calibration old = Calibration::Load(std::string(FFC_API_TEST_DATA) + name);
        EXPECT_FALSE(old.results().camera.Named()) << name;
        EXPECT_TRUE(old.results().camera.notes.empty()) << name;
        EXPECT_TRUE(old.results().setResiduals.empty()) << name;
        EXPECT_EQ(old.results().imageWidth, 16) << name;
        EXPECT_EQ(ReadCalibrationFile(old.Serialize()).columnLuts, old.results().columnLuts) << name;
    }
    Results named = results_[1];
    named.camera = {"CIS 7296", "SN 17", {{"lens", "A"}, {"site", "L\u00ednea 4"}}};
    named.setResiduals = {{40.5f, 0.0125f}, {128.25f, 0.0021f}};
    const std::string bytes = WriteCalibrationFile(named);
    const Results read = ReadCalibrationFile(bytes);
    EXPECT_EQ(read.camera.model, "CIS 7296");
    EXPECT_EQ(read.camera.serial, "SN 17");
    EXPECT_EQ(read.camera.notes, named.camera.notes);
    ASSERT_EQ(read.setResiduals.size(), 2u);
    EXPECT_EQ(read.setResiduals[1].level, 128.25f);
    EXPECT_EQ(read.setResiduals[1].nonUniformity, 0.0021f);
    EXPECT_EQ(WriteCalibrationFile(read), bytes);

    // An identity no calibration keeps, behind a valid checksum.
    const auto edited = [&](const std::function<void(Json&)>& edit) { return EditedHeader(bytes, edit); };
    const std::pair<std::string, const char*> cases[] = {
        {edited([](Json& h) { h["__metadata__"]["cameraSerial"] = "SN\x07"; }), "control characters"},
        {edited([](Json& h) { h["__metadata__"]["note.lens"] = std::string(1025, 'a'); }), "bytes long"},
        {edited([](Json& h) { h["__metadata__"].erase("cameraModel"); }), "cameraModel is missing"},
    };
    for (const auto& [contents, words] : cases) ExpectRefused(contents, ErrorReason::kFileCorrupt, words, words);
}

TEST_F(CalibrationFile, DamagedHeadersAreRefusedWithTheirReason) {
    const std::string good = WriteCalibrationFile(results_[0]);
    const auto header = [&](const std::function<void(Json&)>& edit) { return EditedHeader(good, edit); };
    std::string flipped = good, huge = good;
    flipped.back() ^= 1;
    huge[7] = 0x40;
    const struct {
        const char* label;
        std::string contents;
        ErrorReason reason;
        const char* words;
    } cases[] = {
        {"truncated", good.substr(0, good.size() / 2), ErrorReason::kFileCorrupt, "end"},
        {"three bytes", good.substr(0, 3), ErrorReason::kFileCorrupt, "too short"},
        {"flipped", flipped, ErrorReason::kFileCorrupt, "checksum"},
        {"plain text", "not a calibration file\n", ErrorReason::kFileCorrupt, "header"},
        {"length 2^62", huge, ErrorReason::kFileCorrupt, "runs past its end"},
        {"trailing bytes", ffc::testing::Resigned(good + std::string(3, '\0')), ErrorReason::kFileCorrupt, "file ends"},
        {"array", header([](Json& h) { h = Json::array({1, 2}); }), ErrorReason::kFileCorrupt, "not an object"},
        {"newer", header([](Json& h) { h["__metadata__"]["formatVersion"] = "5"; }), ErrorReason::kFileTooNew,
         "version 5"},
        {"metadata number", header([](Json& h) { h["__metadata__"]["imageWidth"] = 24; }), ErrorReason::kFileCorrupt,
         "not text"},
        {"run missing", header([](Json& h) { h["__metadata__"].erase("run"); }), ErrorReason::kFileCorrupt, "missing"},
        {"other width", header([](Json& h) { h["__metadata__"]["imageWidth"] = "23"; }), ErrorReason::kFileCorrupt,
         "shape"},
        {"descriptor", header([](Json& h) { h["quadCoeffs"] = 5; }), ErrorReason::kFileCorrupt, "not described"},
        {"dtype number", header([](Json& h) { h["quadCoeffs"]["dtype"] = 3; }), ErrorReason::kFileCorrupt,
         "not described"},
        {"dtype unknown", header([](Json& h) { h["quadCoeffs"]["dtype"] = "F64"; }), ErrorReason::kFileCorrupt,
         "unknown type"},
        {"shape near 2^62", header([](Json& h) { h["quadCoeffs"]["shape"] = {uint64_t{1} << 62, 3}; }),
         ErrorReason::kFileCorrupt, "overflows"},
        {"float offsets", header([](Json& h) { h["quadCoeffs"]["data_offsets"] = {1e30, -1.5}; }),
         ErrorReason::kFileCorrupt, "whole number"},
        {"negative offset", header([](Json& h) { h["referenceColumns"]["data_offsets"][0] = -4; }),
         ErrorReason::kFileCorrupt, "whole number"},
        {"overlap",
         header([](Json& h) { h["columnGroupSizes"]["data_offsets"] = h["referenceColumns"]["data_offsets"]; }),
         ErrorReason::kFileCorrupt, "add up"},
        {"shifted",
         header([](Json& h) {
             h["referenceColumns"]["data_offsets"] = {4, 4 + 4 * h["referenceColumns"]["shape"][0].get<int>()};
         }),
         ErrorReason::kFileCorrupt, "overlap or leave gaps"},
        {"extra table", header([](Json& h) {
             h["extra"] = {{"dtype", "I8"}, {"shape", {0}}, {"data_offsets", h["columnDarkRanges"]["data_offsets"][1]}};
             h["extra"]["data_offsets"] = {h["extra"]["data_offsets"], h["extra"]["data_offsets"]};
         }),
         ErrorReason::kFileCorrupt, "does not write"},
        {"both encodings", header([](Json& h) { h["columnLuts"] = h["columnLutSteps"]; }), ErrorReason::kFileCorrupt,
         "overlap or leave gaps"},
        {"missing table", header([](Json& h) { h.erase("columnFlags"); }), ErrorReason::kFileCorrupt, "gaps"},
    };
    for (const auto& c : cases) ExpectRefused(c.contents, c.reason, c.words, c.label);
}

TEST_F(CalibrationFile, ImpossibleValuesBehindAValidChecksumAreRefused) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const auto current = [&](const std::function<void(Results&)>& edit) {
        Results r = results_[0];
        edit(r);
        return WriteCalibrationFile(r);
    };
    const auto segmented = [&](const std::function<void(Results&)>& edit) {
        Results r = results_[2];
        edit(r);
        return WriteCalibrationFile(r);
    };
    const int flagged = static_cast<int>(std::find(results_[0].columnFlags.begin(), results_[0].columnFlags.end(), -1) -
                                         results_[0].columnFlags.begin());
    ASSERT_LT(flagged, kWidth);
    const std::pair<std::string, const char*> cases[] = {
        {current([&](Results& r) { r.realQuadGain = nan; }), "realQuadGain"},
        {current([&](Results& r) { r.rangeGain = inf; }), "rangeGain"},
        {EditedHeader(WriteCalibrationFile(results_[0]), [](Json& h) { h["__metadata__"]["cubicGain"] = "1e40"; }),
         "cubicGain"},
        {current([&](Results& r) { r.quadCoeffs[2][1] = nan; }), "finite"},
        {segmented([&](Results& r) { r.segCubicCoeffs[4][1][0] = -inf; }), "finite"},
        {current([&](Results& r) { r.columnDarkRanges[flagged] = {-100, 1000}; }), "dark range"},
        {current([&](Results& r) { r.columnDarkRanges[flagged] = {20, 10}; }), "dark range"},
        {current([&](Results& r) { r.columnDarkRanges[flagged ? 0 : 1] = {3, 9}; }), "unflagged"},
        {current([](Results& r) { r.columnFlags[2] = 1; }), "flag"},
        {current([](Results& r) { r.columnLuts[7][255] = 70000; }), "range of its entries"},
        {current([](Results& r) { r.referenceColumns.push_back(kWidth); }), "outside the image"},
        {current([](Results& r) { r.referenceColumns.clear(); }), "no reference column"},
        {current([](Results& r) { r.setResiduals = {{90.0f, 0.01f}, {90.0f, 0.01f}}; }), "ascending"},
        {current([](Results& r) { r.setResiduals = {{300.0f, 0.01f}}; }), "ascending"},
        {current([&](Results& r) { r.setResiduals = {{90.0f, nan}}; }), "finite fraction"},
        {current([](Results& r) { r.columnGroups[0][0] = -1; }), "outside the image"},
        {segmented([](Results& r) { r.segQuadBreaks[1] = 257; }), "breakpoint"},
        {segmented([](Results& r) { r.segCubicBreaks[1] = -1; }), "breakpoint"},
    };
    for (const auto& [contents, words] : cases) ExpectRefused(contents, ErrorReason::kFileCorrupt, words, words);
}

// Loading opens only regular files, and reads the header before the rest:
// a FIFO would block the open, a folder or a huge file the read.
TEST_F(CalibrationFile, LoadRefusesWhatIsNoCalibrationFileBeforeReadingIt) {
    ffc::testing::TempFolder scratch;
    const std::string fifo = scratch.path() + "pipe.ffcal", folder = scratch.path() + "folder.ffcal";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::create_directory(folder);
    // A good file followed by 3 GB (sparse: no disk is used) and 3 GB of zeros.
    const std::string padded = scratch.path() + "padded.ffcal", zeros = scratch.path() + "zeros.ffcal";
    std::ofstream(padded, std::ios::binary) << WriteCalibrationFile(results_[0]);
    std::ofstream(zeros, std::ios::binary) << "";
    for (const std::string& path : {padded, zeros}) std::filesystem::resize_file(path, uint64_t{3} << 30);
    const std::pair<std::string, ErrorReason> cases[] = {
        {fifo, ErrorReason::kFileUnreadable},    {folder, ErrorReason::kFileUnreadable},
        {scratch.path() + "missing.ffcal", ErrorReason::kFileUnreadable},
        {padded, ErrorReason::kFileCorrupt},     {zeros, ErrorReason::kFileCorrupt},
    };
    for (const auto& [path, reason] : cases) {
        try {
            Calibration::Load(path);
            ADD_FAILURE() << "loaded " << path;
        } catch (const Error& error) {
            EXPECT_EQ(error.reason(), reason) << error.what();
        }
    }
}

}  // namespace
}  // namespace vyrffc
