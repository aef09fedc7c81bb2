// Runs the cisffc program as a user would and checks what it leaves behind:
// files, the one-line reasons for failures and the exit status.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "cis_simulator.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream stream(path);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

class CisffcTest : public ::testing::Test {
protected:
    ToolRun Run(const std::string& arguments) {
        const std::string out = temp_.path() + "stdout.txt";
        const std::string err = temp_.path() + "stderr.txt";
        const std::string command = std::string(CISFFC_PROGRAM) + " " + arguments + " >" + out + " 2>" + err;
        const int raw = std::system(command.c_str());
        ToolRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadText(out);
        run.err = ReadText(err);
        return run;
    }

    // A small simulated module: 512 columns on 4 chips, 48 levels.
    std::string Simulate(const std::string& name) {
        const std::string folder = temp_.path() + name;
        const ToolRun run = Run("simulate " + folder + " --width 512 --chips 4 --heldout 6");
        EXPECT_EQ(run.status, 0) << run.err;
        return folder;
    }

    // A folder of `count` uniform images of one gray value.
    std::string UniformFolder(const std::string& name, int count, int gray) {
        const std::string folder = temp_.path() + name + "/";
        fs::create_directories(folder);
        for (int i = 0; i < count; ++i) {
            cv::imwrite(folder + "flat_" + std::to_string(i) + ".bmp", cv::Mat(4, 64, CV_8UC1, cv::Scalar(gray)));
        }
        return folder;
    }

    ffc::testing::TempFolder temp_;
};

TEST_F(CisffcTest, CalibrationJsonCarriesTheParametersAndResults) {
    const std::string folder = Simulate("module");
    // Without its trailing separator the folder still calibrates, with a note.
    const ToolRun run = Run("calibrate " + folder + " --json " + temp_.path() + "current.json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("added the trailing '/'"), std::string::npos);
    EXPECT_NE(run.out.find("48 found, 48 used (512x16)"), std::string::npos) << run.out;

    const nlohmann::json json = nlohmann::json::parse(ReadText(temp_.path() + "current.json"));
    EXPECT_EQ(json["parameters"]["referenceColumns"], "204-306");
    EXPECT_EQ(json["parameters"]["columnGroups"].size(), 8u);

    // The gains as the run left them, in their shortest exact form.
    const nlohmann::json& results = json["results"];
    EXPECT_EQ(results["quadGain"].get<float>(), 1.0f);
    EXPECT_GT(results["realQuadGain"].get<float>(), 1.0f);
    EXPECT_EQ(results["quadCoeffs"].size(), 512u);

    // The previous generation writes its own results.
    ASSERT_EQ(Run("calibrate " + folder + "/ --run previous --json " + temp_.path() + "prev.json").status, 0);
    const nlohmann::json previous = nlohmann::json::parse(ReadText(temp_.path() + "prev.json"));
    EXPECT_GT(previous["results"]["rangeGain"].get<float>(), 1.0f);
}

TEST_F(CisffcTest, OutputsAppearWholeOrNotAtAll) {
    const std::string folder = Simulate("module");
    cissim::SimulatorOptions narrow;
    narrow.width = 500;
    const std::string decoy = cissim::WriteDecoy(temp_.path(), cissim::Decoy::WrongSize, narrow);
    const std::string out = temp_.path() + "out";

    // The second image fails, so the first is not written either.
    const ToolRun failed = Run("correct " + folder + "/ " + folder + "/heldout/heldout_01.bmp " + decoy + " --out " + out);
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("columns wide, the calibration is for 512"), std::string::npos) << failed.err;
    EXPECT_FALSE(fs::exists(out + "/heldout_01.bmp"));

    // A successful command leaves its file and nothing else.
    ASSERT_EQ(Run("correct " + folder + "/ " + folder + "/heldout/heldout_01.bmp --mode 1 --out " + out).status, 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 1);
    EXPECT_EQ(cv::imread(out + "/heldout_01.bmp", cv::IMREAD_UNCHANGED).size(), cv::Size(512, 16));

    // A simulated module never lands on top of existing files unless asked to.
    const ToolRun occupied = Run("simulate " + out + " --width 64");
    EXPECT_EQ(occupied.status, 2);
    EXPECT_NE(occupied.err.find("already holds files"), std::string::npos);
    ASSERT_EQ(Run("simulate " + out + " --width 64 --replace").status, 0);
    EXPECT_FALSE(fs::exists(out + "/heldout_01.bmp"));
}

TEST_F(CisffcTest, EachFailureGivesOneLineAndItsExitStatus) {
    const std::string module = Simulate("module") + "/";
    const std::string three = UniformFolder("three", 3, 100);
    const std::string nine = UniformFolder("nine", 9, 100);
    const std::string saturated = UniformFolder("saturated", 5, 255);
    const std::string empty = UniformFolder("empty", 0, 0);
    cissim::SimulatorOptions options;
    cissim::WriteDecoy(three, cissim::Decoy::WrongSize, options);
    cissim::WriteDecoy(three, cissim::Decoy::NotAnImage, options);
    const std::string json = temp_.path() + "never.json";

    // Arguments, exit status, and a part of the one-line reason.
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"calibrate " + temp_.path() + "missing/", 1, "does not exist"},
        {"calibrate " + empty, 1, "no file matches \"" + empty + "*.bmp\""},
        {"calibrate " + three + " --json " + json, 1,
         "3 image(s) of 64x4 match \"" + three + "*.bmp\", the current calibration needs at least 4; skipped 1 of "
         "another size"},
        {"calibrate " + nine + " --run segmented --group-width 8", 1, "the segmented calibration needs at least 10"},
        {"calibrate " + module + " --ref-cols 100-600", 1, "reference column 512 lies outside the 512-column image"},
        {"calibrate " + module + " --groups 0-63,500-520", 1, "column group 2 holds column 512"},
        {"calibrate " + saturated + " --group-width 8 --json " + json, 1, "every image is saturated"},
        {"report " + module + " --out " + temp_.path() + "never.png --run segmented --mode 6", 2, "modes 0 and 1"},
        {"calibrate " + module + " --run sideways", 2, "--run"},
        {"calibrate", 2, "DIR is required"},
        {"", 2, "subcommand"},
    };
    for (const auto& [arguments, status, reason] : cases) {
        const ToolRun run = Run(arguments);
        EXPECT_EQ(run.status, status) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << arguments << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    // No failed command leaves an output file behind.
    EXPECT_FALSE(fs::exists(json));
    EXPECT_FALSE(fs::exists(temp_.path() + "never.png"));
}

}  // namespace
