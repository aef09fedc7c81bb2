// Runs the cisffc program as a user would and checks what it leaves behind:
// files, the one-line reasons for failures and the exit status.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

#include "VyrCISFlatfieldCorrection.hpp"
#include "cis_simulator.h"
#include "support/image_files.h"
#include "support/temp_folder.h"

// GCC names the sanitizers with macros, Clang with __has_feature.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CISFFC_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CISFFC_TEST_SANITIZED 1
#endif
#endif

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
    // `shell` runs first in the shell that starts the tool (limits, say).
    ToolRun Run(const std::string& arguments, const std::string& shell = "") {
        const std::string out = temp_.path() + "stdout.txt";
        const std::string err = temp_.path() + "stderr.txt";
        const std::string command =
            shell + std::string(CISFFC_PROGRAM) + " " + arguments + " >" + out + " 2>" + err;
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

    ffc::testing::TempFolder temp_;
};

TEST_F(CisffcTest, CalibrationJsonCarriesTheParametersAndResults) {
    const std::string folder = Simulate("module");
    const std::string file = temp_.path() + "module.ffcal";
    const ToolRun run = Run("calibrate " + folder + " --save " + file + " --json " + temp_.path() + "current.json");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Image size   512x16"), std::string::npos) << run.out;

    const std::string text = ReadText(temp_.path() + "current.json");
    const nlohmann::json json = nlohmann::json::parse(text);
    EXPECT_EQ(json["formatVersion"], 2);
    EXPECT_FALSE(json["libraryVersion"].get<std::string>().empty());
    EXPECT_EQ(json["parameters"]["referenceColumns"], "204-306");
    EXPECT_EQ(json["parameters"]["columnGroups"].size(), 8u);

    // The gains as the run left them, in their shortest exact form.
    const nlohmann::json& results = json["results"];
    EXPECT_EQ(results["quadGain"].get<float>(), 1.0f);
    EXPECT_GT(results["realQuadGain"].get<float>(), 1.0f);
    EXPECT_EQ(results["quadCoeffs"].size(), 512u);
    // The mapping tables too, one of 256 entries per column.
    ASSERT_EQ(results["columnLuts"].size(), 512u);
    EXPECT_EQ(results["columnLuts"][300].size(), 256u);

    // The same calibration again gives the same bytes, on standard output too.
    const ToolRun again = Run("calibrate " + folder + "/ --json -");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(again.out, text);

    // The verdict on the set, its warnings as printed (here only of the six
    // dark columns, over 1% of so short a line).
    const nlohmann::json& verdict = json["calibrationSet"];
    EXPECT_EQ(verdict["images"].size(), 48u);
    EXPECT_GT(verdict["levelsInside"].get<int>(), 20);
    ASSERT_EQ(verdict["warnings"].size(), 1u) << verdict["warnings"];
    EXPECT_NE(run.err.find("warning: " + verdict["warnings"][0].get<std::string>()), std::string::npos) << run.err;

    // The saved file corrects without the folder, as the folder itself does.
    const std::string image = folder + "/heldout/heldout_02.bmp";
    ASSERT_EQ(Run("correct " + folder + " " + image + " --out " + temp_.path() + "a").status, 0);
    ASSERT_EQ(Run("correct --calibration " + file + " " + image + " --out " + temp_.path() + "b").status, 0);
    EXPECT_EQ(ReadText(temp_.path() + "a/heldout_02.bmp"), ReadText(temp_.path() + "b/heldout_02.bmp"));
}

// Six mid-gray levels calibrate, but leave the fits to extrapolate: a
// warning each, and with --strict a failure that writes nothing.
TEST_F(CisffcTest, ANarrowSetWarnsAndStrictWritesNothing) {
    const std::string module = Simulate("module") + "/";
    const std::string narrow = temp_.path() + "narrow/";
    fs::create_directories(narrow);
    for (const char* level : {"14", "15", "16", "17", "18", "19"}) {
        fs::copy_file(module + "level_0" + level + ".bmp", narrow + "level_0" + level + ".bmp");
    }
    const ToolRun lenient = Run("calibrate " + narrow + " --save " + temp_.path() + "lenient.ffcal");
    EXPECT_EQ(lenient.status, 0) << lenient.err;
    EXPECT_NE(lenient.err.find("warning: 6 levels lie inside the fitting range"), std::string::npos) << lenient.err;
    EXPECT_NE(lenient.out.find("the fits extrapolate to both ends"), std::string::npos) << lenient.out;

    const ToolRun strict = Run("calibrate " + narrow + " --strict --save " + temp_.path() + "strict.ffcal --json " +
                               temp_.path() + "strict.json");
    EXPECT_EQ(strict.status, 1);
    EXPECT_NE(strict.err.find("cisffc: --strict: the calibration set drew 2 warning(s)"), std::string::npos)
        << strict.err;
    EXPECT_FALSE(fs::exists(temp_.path() + "strict.ffcal"));
    EXPECT_FALSE(fs::exists(temp_.path() + "strict.json"));
}

TEST_F(CisffcTest, KeepGoingCorrectsAroundABadImage) {
    const std::string folder = Simulate("module");
    const std::string file = temp_.path() + "module.ffcal";
    ASSERT_EQ(Run("calibrate " + folder + " --save " + file).status, 0);
    // heldout_02.bmp is replaced by an image of another width.
    cv::imwrite(folder + "/heldout/heldout_02.bmp", cv::Mat(16, 500, CV_8UC1, cv::Scalar(90)));
    const std::string out = temp_.path() + "out";

    const ToolRun stopped = Run("correct --calibration " + file + " " + folder + "/heldout --out " + out);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_FALSE(fs::exists(out + "/heldout_03.bmp"));

    const ToolRun run =
        Run("correct --calibration " + file + " " + folder + "/heldout --keep-going --jobs 2 --out " + out);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("heldout_02.bmp is 500 columns wide, the calibration is for 512"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("1 of 7 image(s) could not be corrected"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out + "/heldout_02.bmp"));
    for (const char* name : {"heldout_00.bmp", "heldout_01.bmp", "heldout_03.bmp", "heldout_05.bmp"}) {
        EXPECT_EQ(cv::imread(out + "/" + name, cv::IMREAD_UNCHANGED).size(), cv::Size(512, 16)) << name;
    }
    // Only the images (the dark one too), no temporary file left over.
    EXPECT_EQ(std::distance(fs::directory_iterator(out), fs::directory_iterator()), 6);
}

// A system that starts no more threads (here every thread's stack would be
// larger than the address space left) still gets the whole batch corrected,
// each image read in turn instead of ahead.
TEST_F(CisffcTest, ABatchThatCannotReadAheadReadsInTurn) {
#if defined(CISFFC_TEST_SANITIZED)
    GTEST_SKIP() << "the sanitizers need more address space than the limit leaves";
#endif
    const std::string folder = Simulate("module");
    const std::string file = temp_.path() + "module.ffcal";
    ASSERT_EQ(Run("calibrate " + folder + " --save " + file).status, 0);
    const std::string images = " " + folder + "/heldout --jobs 2 --quiet --out ";
    ASSERT_EQ(Run("correct --calibration " + file + images + temp_.path() + "ahead").status, 0);

    const std::string noThreads = "ulimit -s 2000000; ulimit -v 1500000; ";
    const ToolRun run = Run("correct --calibration " + file + images + temp_.path() + "inturn", noThreads);
    EXPECT_EQ(run.status, 0) << run.err;
    for (const auto& entry : fs::directory_iterator(temp_.path() + "ahead")) {
        const std::string name = entry.path().filename().string();
        EXPECT_EQ(ReadText(temp_.path() + "inturn/" + name), ReadText(entry.path().string())) << name;
    }
}

TEST_F(CisffcTest, OutputsReplaceFilesButWriteThroughLinksAndFifos) {
    const std::string folder = Simulate("module");
    const std::string out = temp_.path() + "out/";
    fs::create_directories(out);

    // A regular file is replaced and keeps its permissions; a planted file at
    // a would-be temporary name is left alone.
    const std::string json = out + "results.json";
    std::ofstream(json) << "old";
    fs::permissions(json, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    std::ofstream(out + ".results.json.tmp") << "planted";
    ASSERT_EQ(Run("calibrate " + folder + " --json " + json).status, 0);
    EXPECT_EQ(nlohmann::json::parse(ReadText(json))["formatVersion"], 2);
    EXPECT_EQ(fs::status(json).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    EXPECT_EQ(ReadText(out + ".results.json.tmp"), "planted");

    // A symlink stays a link, its target gets the contents.
    fs::create_symlink(json, out + "link.json");
    ASSERT_EQ(Run("calibrate " + folder + " --json " + out + "link.json --run previous").status, 0);
    EXPECT_TRUE(fs::is_symlink(out + "link.json"));
    EXPECT_EQ(nlohmann::json::parse(ReadText(json))["parameters"]["run"], "previous");

    // A FIFO receives the bytes directly.
    const std::string fifo = out + "pipe.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Run("calibrate " + folder + " --json " + fifo + " >" + out + "summary & cat " + fifo + " >" + out + "got; wait");
    EXPECT_EQ(nlohmann::json::parse(ReadText(out + "got"))["formatVersion"], 2);
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A name of 250 bytes still finds room for its temporary name.
    const std::string longName = out + std::string(245, 'n') + ".json";
    ASSERT_EQ(Run("calibrate " + folder + " --json " + longName).status, 0);
    EXPECT_TRUE(fs::is_regular_file(longName));
}

TEST_F(CisffcTest, EachFailureGivesOneLineAndItsExitStatus) {
    const std::string module = Simulate("module") + "/";
    const std::string json = temp_.path() + "never.json";
    const std::string file = temp_.path() + "module.ffcal";
    const std::string held = module + "heldout/";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const std::string colour = temp_.path() + "colour.png", deep = temp_.path() + "deep.png";
    cv::imwrite(colour, cv::Mat(16, 512, CV_8UC3, cv::Scalar(90, 90, 90)));
    cv::imwrite(deep, cv::Mat(16, 512, CV_16UC1, cv::Scalar(900)));
    const std::string fifo = temp_.path() + "fifo.bmp", huge = temp_.path() + "huge.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ffc::testing::WriteBytes(huge, ffc::testing::EncodedClaiming(".png", cv::Mat(16, 512, CV_8UC1), 100000, 100000));
    const std::string out = " --out " + temp_.path() + "never";

    // Arguments, exit status, and a part of the one-line reason. The reasons
    // a calibration is refused for are the C++ interface's, checked there;
    // here one of them shows how the tool relays them.
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"calibrate " + temp_.path() + "missing/", 1, "does not exist"},
        {"calibrate " + module + " --ref-cols 100-600", 1, "reference column 512 lies outside the 512-column image"},
        {"report " + module + " --out " + temp_.path() + "never.png --run segmented --mode 6", 2, "modes 0 and 1"},
        {"calibrate " + module + " --run sideways", 2, "--run"},
        {"calibrate", 2, "DIR is required"},
        {"calibrate " + module + " --ref-cols 0-300000000", 2, "beyond any sensor line"},
        {"calibrate " + module + " --width 2147483647 --height 16", 2, "not in range"},
        {"correct --calibration " + file + " " + held + " --mode 2" + out, 2, "--mode"},
        {"correct --calibration " + file + " " + held + " --test previous --mode 6" + out, 2, "serves modes 0, 1 and 4"},
        {"correct --calibration " + file + " " + held + " --run previous" + out, 2, "excludes"},
        {"correct --calibration " + file + " " + held + " " + held + "heldout_01.bmp" + out, 2, "would both be"},
        {"correct --calibration " + file + " " + colour + out, 1, "only 8-bit gray images"},
        {"correct --calibration " + file + " " + deep + out, 1, "is not 8-bit (16-bit)"},
        {"correct --calibration " + json + " " + held + out, 1, "calibration file"},
        {"correct --calibration " + file + " " + temp_.path() + "nothing.bmp" + out, 1, "nothing.bmp: it does not exist"},
        {"correct --calibration " + file + " " + fifo + out, 1, "fifo.bmp is not a regular file"},
        {"correct --calibration " + file + " " + huge + out, 1, "huge.png is larger than any 8-bit gray image"},
        {"report --calibration " + file + " --out " + temp_.path() + "never.png", 2, "--heldout"},
        {"report --calibration " + file + " --heldout " + temp_.path() + "narrow --out " + temp_.path() + "never.png",
         1, "is 500 columns wide, the calibration is for 512"},
        {"correct --calibration " + file + " " + held + " --out " + temp_.path() + "never.png", 2, "not an image"},
        {"correct --calibration " + file + " " + held + " --out " + file, 2, "is a file"},
        // The image library's decoders add no line of their own.
        {"correct --calibration " + file + " " + temp_.path() + "cut.png" + out, 1, "cannot read"},
        {"correct --calibration " + file + " " + temp_.path() + "cut.tif" + out, 1, "cannot read"},
        {"report --calibration " + file + " --heldout " + held + " --dark " + temp_.path() + "cut.bmp --out " +
             temp_.path() + "never.png",
         1, "cannot read"},
        {"report --calibration " + file + " --heldout " + held + " --max-nu 0.5%% --out " + temp_.path() +
             "never.png",
         2, "--max-nu"},
    };
    for (const char* extension : {".png", ".tif", ".bmp"}) {
        std::vector<uchar> bytes;
        cv::imencode(extension, cv::Mat(16, 512, CV_8UC1, cv::Scalar(90)), bytes);
        std::ofstream(temp_.path() + "cut" + extension, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size() / 2));
    }
    fs::create_directories(temp_.path() + "narrow");
    cv::imwrite(temp_.path() + "narrow/flat.bmp", cv::Mat(16, 500, CV_8UC1, cv::Scalar(90)));
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

TEST_F(CisffcTest, ReportComparesEveryModeAndChecksTheLimits) {
    const std::string module = Simulate("module") + "/";
    const std::string file = temp_.path() + "module.ffcal";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const std::string report = "report --calibration " + file + " --heldout " + module + "heldout --out " +
                               temp_.path() + "report.png";

    // The simulator's dark image beside the held-out flats gives the figures,
    // raw and per mode, in the text and in the second table of the CSV.
    const std::string csv = temp_.path() + "table.csv";
    const ToolRun run = Run(report + " --csv " + csv + " --max-prnu 1% --max-nu 5");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("\n  raw  "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nBest: current mode "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\nPASS: current mode "), std::string::npos) << run.out;
    const std::string table = ReadText(csv);
    const size_t second = table.find("\n\ncorrection,");
    ASSERT_NE(second, std::string::npos) << table;
    // header, 6 flats, the dark image (no NU of a level near 0); then the
    // header, raw and the six modes the current run serves
    EXPECT_EQ(std::count(table.begin(), table.begin() + second, '\n'), 7) << table;
    EXPECT_NE(table.find("\ndark,dark.bmp,0,"), std::string::npos) << table;
    EXPECT_EQ(std::count(table.begin() + second + 2, table.end(), '\n'), 8) << table;
    EXPECT_NE(table.find("\ncurrent mode 4,6,"), std::string::npos) << table;

    // A limit missed: a line per limit, exit status 3, the picture all the same.
    fs::remove(temp_.path() + "report.png");
    const ToolRun rejected = Run(report + " --max-prnu 0.001 --max-nu 0.001%");
    EXPECT_EQ(rejected.status, 3) << rejected.err;
    const size_t fail = rejected.out.find("\nFAIL: current mode ");
    ASSERT_NE(fail, std::string::npos) << rejected.out;
    EXPECT_NE(rejected.out.find(", PRNU ", fail), std::string::npos) << rejected.out;
    EXPECT_NE(rejected.out.find("\nFAIL: current mode ", fail + 1), std::string::npos) << rejected.out;
    EXPECT_NE(rejected.out.find(", NU ", fail), std::string::npos) << rejected.out;
    EXPECT_EQ(std::count(rejected.err.begin(), rejected.err.end(), '\n'), 1) << rejected.err;
    EXPECT_TRUE(fs::exists(temp_.path() + "report.png"));

    // On the calibration images mode 4 meets saturated pixels it has no
    // candidate for: shown failed with its reason, the others still compared;
    // the brightest images clip and are named so, not given a 0% figure.
    const ToolRun clipped = Run("report --calibration " + file + " --heldout " + module + " --mode 0 --out " +
                                temp_.path() + "all.png --csv -");
    ASSERT_EQ(clipped.status, 0) << clipped.err;
    EXPECT_NE(clipped.err.find("(failed on "), std::string::npos) << clipped.err;
    EXPECT_NE(clipped.err.find("no candidate values for holes"), std::string::npos) << clipped.err;
    EXPECT_EQ(clipped.err.find("Best: current mode 4"), std::string::npos) << clipped.err;
    const size_t row = clipped.out.find("flat,level_047.bmp,");
    ASSERT_NE(row, std::string::npos) << clipped.out;
    EXPECT_EQ(clipped.out.substr(clipped.out.find('\n', row) - 12, 12), ",1,255,0,0,1") << clipped.out;
    const size_t line = clipped.err.find("level_047.bmp");
    EXPECT_NE(clipped.err.substr(line, clipped.err.find('\n', line) - line).find("clipped"), std::string::npos);
}

// The tool names modes as the library does and, without --mode, corrects as
// the C++ interface does without one: the same bytes.
TEST_F(CisffcTest, ModesByNameAndTheDefaultAreTheLibrarysOwn) {
    const std::string module = Simulate("module") + "/";
    const std::string file = temp_.path() + "module.ffcal", image = module + "heldout/heldout_02.bmp";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const vyrffc::Calibration calibration = vyrffc::Calibration::Load(file);
    const cv::Mat raw = cv::imread(image, cv::IMREAD_GRAYSCALE);
    cv::Mat byDefault, cubic;
    calibration.Correct(raw, byDefault);
    calibration.Correct(raw, cubic, 1);
    const std::pair<std::string, const cv::Mat*> cases[] = {{"", &byDefault}, {" --mode cubic", &cubic}};
    for (const auto& [mode, expected] : cases) {
        const std::string out = temp_.path() + "out" + std::to_string(mode.size());
        ASSERT_EQ(Run("correct --calibration " + file + " " + image + mode + " --out " + out).status, 0) << mode;
        EXPECT_EQ(cv::norm(cv::imread(out + "/heldout_02.bmp", cv::IMREAD_GRAYSCALE), *expected, cv::NORM_INF), 0.0)
            << mode;
    }
    // One line of help per mode, each with its name.
    const std::string help = Run("correct --help").out;
    for (int mode : vyrffc::AllModes()) {
        EXPECT_NE(help.find(std::to_string(mode) + " " + vyrffc::ModeName(mode) + ": "), std::string::npos) << help;
    }
}

// The camera given to calibrate is kept in the file and the JSON, printed by
// report, and required by correct before any image is read.
TEST_F(CisffcTest, TheCameraIsKeptReportedAndRequired) {
    const std::string module = Simulate("module") + "/";
    const std::string file = temp_.path() + "module.ffcal", json = temp_.path() + "module.json";
    const ToolRun calibrated = Run("calibrate " + module + " --camera-model 'CIS 7296' --camera-serial SN17 --note "
                                   "lens=A --note 'site=Line 4' --save " + file + " --json " + json);
    ASSERT_EQ(calibrated.status, 0) << calibrated.err;
    const nlohmann::json camera = nlohmann::json::parse(ReadText(json))["parameters"]["camera"];
    EXPECT_EQ(camera["serial"], "SN17");
    EXPECT_EQ(camera["notes"]["site"], "Line 4");

    const ToolRun report = Run("report --calibration " + file + " --heldout " + module + "heldout --out " +
                               temp_.path() + "report.png");
    ASSERT_EQ(report.status, 0) << report.err;
    EXPECT_NE(report.out.find("Camera: model CIS 7296, serial SN17; notes: lens=A, site=Line 4"), std::string::npos);
    EXPECT_NE(report.out.find("Output level (mode 0, quadratic): raw 60 at the reference columns -> "),
              std::string::npos) << report.out;

    const std::string images = " " + module + "heldout --out " + temp_.path() + "corrected";
    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"correct --calibration " + file + " --require-serial SN18" + images, 1, "not serial \"SN18\""},
        {"correct --calibration " + file + " --require-model 'CIS 2048'" + images, 1, "not model"},
        {"correct --calibration " CISFFC_FORMAT2_CALIBRATION " --require-serial SN17" + images, 1, "names no camera"},
        {"correct " + module + " --require-serial SN17" + images, 2, "--calibration"},
        {"calibrate " + module + " --note lens", 2, "KEY=VALUE"},
    };
    for (const auto& [arguments, status, reason] : cases) {
        const ToolRun run = Run(arguments);
        EXPECT_EQ(run.status, status) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << arguments << "\n" << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_FALSE(fs::exists(temp_.path() + "corrected")) << arguments;
    }
    EXPECT_EQ(Run("correct --calibration " + file + " --require-serial SN17 --require-model 'CIS 7296'" + images).status,
              0);
}

TEST_F(CisffcTest, BareCommandAndVersionSayWhatTheyAre) {
    EXPECT_NE(Run("").out.find("Usage"), std::string::npos);
    const ToolRun version = Run("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("calibration file format"), std::string::npos) << version.out;
}

}  // namespace

namespace {

// Every refusal comes before any work: no output appears, no input changes.
TEST_F(CisffcTest, OutputsThatCollideAreRefusedBeforeAnyWork) {
    const std::string module = Simulate("module") + "/";
    const std::string held = module + "heldout/";
    const std::string file = temp_.path() + "module.ffcal";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const std::string t = temp_.path();
    fs::create_directories(t + "sub");
    fs::create_hard_link(module + "level_004.bmp", t + "hard.bmp");
    std::ofstream(t + "existing.png") << "old";
    fs::create_symlink(t + "existing.png", t + "link.csv");
    cv::imwrite(t + "dark.png", cv::Mat(16, 512, CV_8UC1, cv::Scalar(3)));
    fs::create_directories(t + "lookalike");
    fs::copy_file(held + "heldout_01.bmp", t + "lookalike/level_002.bmp");
    const std::string report = "report --calibration " + file + " --heldout " + held;

    const std::vector<std::tuple<std::string, int, std::string>> cases = {
        {"calibrate " + module + " --save " + t + "x --json " + t + "sub/../x", 2, "are the same file"},
        {"calibrate " + module + " --save " + module + "level_003.bmp", 2, "would overwrite the calibration image"},
        {"calibrate " + module + " --json " + t + "hard.bmp", 2, "would overwrite the calibration image"},
        {"calibrate " + module + " --save - --json -", 2, "cannot both go to standard output"},
        {"calibrate " + module + " --save " + t + "missing/deeper/x.ffcal", 1, "does not exist"},
        {report + " --out " + t + "existing.png --csv " + t + "link.csv", 2, "are the same file"},
        {report + " --out " + t + "dark.png --dark " + t + "dark.png", 2, "would overwrite --dark"},
        {report + " --out " + t + "r.png --csv " + held + "heldout_02.bmp", 2, "would overwrite the flat image"},
        {report + " --out " + t + "r.png --csv " + file, 2, "would overwrite the calibration file"},
        {"correct --calibration " + file + " " + held + " --out " + held, 2, "would overwrite the image to correct"},
        {"correct " + module + " " + t + "lookalike --out " + module, 2, "would overwrite the calibration image"},
    };
    const std::string before = ReadText(module + "level_004.bmp");
    for (const auto& [arguments, status, reason] : cases) {
        const ToolRun run = Run(arguments);
        EXPECT_EQ(run.status, status) << arguments << "\n" << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << arguments << "\n" << run.err;
        EXPECT_TRUE(run.out.empty()) << arguments << "\n" << run.out;
    }
    EXPECT_EQ(ReadText(module + "level_004.bmp"), before);
    EXPECT_EQ(ReadText(t + "existing.png"), "old");
    EXPECT_FALSE(fs::exists(t + "x"));
    EXPECT_FALSE(fs::exists(t + "r.png"));
    EXPECT_FALSE(fs::exists(t + "missing"));
}

TEST_F(CisffcTest, ACalibrationOnStandardOutputIsTheFileAlone) {
    const std::string module = Simulate("module") + "/";
    const std::string file = temp_.path() + "module.ffcal";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const ToolRun run = Run("calibrate " + module + " --save -");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == ReadText(file)) << "the summary or something else joined the saved bytes";
    EXPECT_NE(run.err.find("Image size"), std::string::npos) << run.err;
}

// The tool started without a shell, so that SIGINT reaches it as a terminal
// would send it; its stdout and stderr go to files.
pid_t StartTool(std::vector<std::string> words, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    words.insert(words.begin(), CISFFC_PROGRAM);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    EXPECT_EQ(posix_spawn(&child, CISFFC_PROGRAM, &files, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&files);
    return child;
}

// The exit status, or -1 for an end by a signal.
int InterruptAndWait(pid_t child) {
    ::kill(child, SIGINT);
    int raw = 0;
    EXPECT_EQ(::waitpid(child, &raw, 0), child);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// Interrupted in the middle of a batch, the tool says how far it got and
// leaves only whole images, no temporary file.
TEST_F(CisffcTest, AnInterruptedBatchLeavesNoTemporaryFileAndExits130) {
    const std::string module = temp_.path() + "tall";
    ASSERT_EQ(Run("simulate " + module + " --width 4096 --height 1000 --levels 12 --heldout 60").status, 0);
    const std::string file = temp_.path() + "tall.ffcal";
    ASSERT_EQ(Run("calibrate " + module + " --save " + file).status, 0);
    const std::string out = temp_.path() + "out/";
    const std::string err = temp_.path() + "interrupted.txt";
    const std::string heldOut = module + "/heldout";
    const pid_t child =
        StartTool({"correct", "--calibration", file, heldOut, "--out", out, "--jobs", "2"}, "/dev/null", err);

    // Interrupted once the first image is there, mid-batch.
    auto started = [&] {
        std::error_code error;
        return fs::is_directory(out, error) && !fs::is_empty(out, error);
    };
    for (int i = 0; i < 6000 && !started(); ++i) ::usleep(5000);
    EXPECT_EQ(InterruptAndWait(child), 130);
    const std::string said = ReadText(err);
    EXPECT_NE(said.find("interrupted after "), std::string::npos) << said;
    EXPECT_NE(said.find(" of 61 image(s)"), std::string::npos) << said;
    size_t images = 0;
    for (const auto& entry : fs::directory_iterator(out)) {
        EXPECT_EQ(entry.path().extension(), ".bmp") << entry.path();
        EXPECT_EQ(fs::file_size(entry.path()), fs::file_size(heldOut + "/" + entry.path().filename().string()));
        ++images;
    }
    EXPECT_LT(images, 61u);
}

// A FIFO without a reader holds the write up; an interrupt still ends it.
TEST_F(CisffcTest, AnInterruptEndsAWriteToAFifoWithoutReader) {
    const std::string module = Simulate("module");
    const std::string fifo = temp_.path() + "nobody.json";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string summary = temp_.path() + "summary.txt";
    const pid_t child = StartTool({"calibrate", module, "--json", fifo}, summary, temp_.path() + "err.txt");
    // The summary comes before the results are written.
    for (int i = 0; i < 6000 && ReadText(summary).find("Groups") == std::string::npos; ++i) ::usleep(5000);
    ::usleep(200000);
    EXPECT_EQ(InterruptAndWait(child), 130);
}

}  // namespace
