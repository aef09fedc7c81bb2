// capture and check run as a user would, against the test camera on the
// loopback interface: what they write, their reasons and exit status.
#include <sys/wait.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include "support/camera/test_camera.h"
#include "support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using ffc::testing::TestCamera;
using ffc::testing::TestCameraOptions;

struct ToolRun {
    int status = -1;
    std::string out;
    std::string err;
};

std::string ReadText(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    std::stringstream text;
    text << stream.rdbuf();
    return text.str();
}

// A module small enough to capture in a few seconds.
TestCameraOptions SmallModule() {
    TestCameraOptions options;
    options.module.width = 512;
    options.module.chips = 4;
    return options;
}

class CameraTest : public ::testing::Test {
protected:
    void Start(const TestCameraOptions& options) {
        camera_ = std::make_unique<TestCamera>(options);
        if (!camera_->running()) GTEST_SKIP() << "the loopback interface cannot serve a GigE Vision camera here";
    }

    // Runs cisffc; `whileRunning` is called every 50 ms with the stderr
    // written so far until the tool ends.
    ToolRun Run(const std::string& arguments, const std::function<void(const std::string&)>& whileRunning = {}) {
        const std::string out = temp_.path() + "stdout.txt";
        const std::string err = temp_.path() + "stderr.txt";
        const std::string command = std::string(CISFFC_PROGRAM) + " " + arguments + " </dev/null >" + out + " 2>" + err;
        std::atomic<bool> done{false};
        int raw = -1;
        std::thread tool([&] {
            raw = std::system(command.c_str());
            done = true;
        });
        while (!done) {
            if (whileRunning) whileRunning(ReadText(err));
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        tool.join();
        ToolRun run;
        run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        run.out = ReadText(out);
        run.err = ReadText(err);
        return run;
    }

    // Captures into `name` with the dark image, switching the light off when
    // the tool waits for it.
    ToolRun CaptureWithDark(const std::string& name, const std::string& more = "") {
        camera_->SetLight(true);
        return Run("capture " + TestCamera::Address() + " --out " + temp_.path() + name + " --dark-unattended " + more,
                   [&](const std::string& err) {
                       if (err.find("for the light to go off") != std::string::npos) camera_->SetLight(false);
                   });
    }

    std::unique_ptr<TestCamera> camera_;
    ffc::testing::TempFolder temp_;
};

// Every captured image is the frame the camera serves at its exposure, and
// the folder calibrates exactly as the simulator's rendering of the same
// levels does: the series loses nothing on its way through the camera link.
TEST_F(CameraTest, CapturedSeriesCalibratesAsTheSimulatorRenderedAtTheSameLevels) {
    Start(SmallModule());
    const ToolRun capture = CaptureWithDark("captured");
    ASSERT_EQ(capture.status, 0) << capture.err;

    const std::string rendered = temp_.path() + "rendered/";
    fs::create_directories(rendered);
    const std::regex levelName(R"(level_(\d{3})_(\d+)\.0us\.bmp)");
    int levels = 0;
    for (const auto& entry : fs::directory_iterator(temp_.path() + "captured")) {
        const std::string name = entry.path().filename().string();
        std::smatch match;
        const cv::Mat captured = cv::imread(entry.path().string(), cv::IMREAD_UNCHANGED);
        cv::Mat expected;
        if (std::regex_match(name, match, levelName)) {
            camera_->SetLight(true);
            expected = camera_->Render(static_cast<uint32_t>(std::stoul(match[2])), 16);
            ++levels;
        } else {
            ASSERT_EQ(name, "dark.bmp");
            const std::smatch at = [&] {
                std::smatch m;
                std::regex_search(capture.out, m, std::regex(R"(dark\.bmp at (\d+)\.0 us)"));
                return m;
            }();
            ASSERT_EQ(at.size(), 2u) << capture.out;
            camera_->SetLight(false);
            expected = camera_->Render(static_cast<uint32_t>(std::stoul(at[1])), 16);
        }
        ASSERT_EQ(cv::norm(captured, expected, cv::NORM_INF), 0.0) << name;
        cv::imwrite(rendered + name, expected);
    }
    EXPECT_EQ(levels, 48);
    for (const std::string folder : {"captured", "rendered"}) {
        const ToolRun run = Run("calibrate " + temp_.path() + folder + " --save " + temp_.path() + folder + ".ffc");
        ASSERT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(ReadText(temp_.path() + "captured.ffc"), ReadText(temp_.path() + "rendered.ffc"));
}

// A calibration made from the camera keeps it flat, as flat as it left its
// own images at that level; once the column gains
// drift (an aged lamp, a moved target) check says to recalibrate; another
// camera of the same width is refused by its serial number.
TEST_F(CameraTest, CheckPassesOnTheCalibratedModuleAndFailsAfterTheGainsDriftOrOnAnotherCamera) {
    TestCameraOptions options = SmallModule();
    options.repeatable = false;
    Start(options);
    const std::string calibration = temp_.path() + "module.ffc";
    const ToolRun capture = Run("capture " + TestCamera::Address() + " --out " + temp_.path() +
                                "series --average 4 --calibrate --save " + calibration);
    ASSERT_EQ(capture.status, 0) << capture.err;
    EXPECT_TRUE(fs::exists(calibration));

    const std::string check =
        "check " + TestCamera::Address() + " --calibration " + calibration + " --exposure 1500 --max-nu 0.5%";
    const ToolRun before = Run(check);
    EXPECT_EQ(before.status, 0) << before.out << before.err;
    EXPECT_NE(before.out.find("pass"), std::string::npos) << before.out;
    // Beside what the calibration left on its own images at that level.
    EXPECT_TRUE(std::regex_search(before.out, std::regex(R"(non-uniformity [0-9.]+% \([0-9.]+% at calibration\))")))
        << before.out;

    camera_->DriftGains(0.03);
    const ToolRun after = Run(check);
    EXPECT_EQ(after.status, 3) << after.out << after.err;
    EXPECT_NE(after.out.find("recalibrate"), std::string::npos) << after.out;

    camera_.reset();
    options.serial = "CIS0002";
    Start(options);
    const ToolRun another = Run(check);
    EXPECT_EQ(another.status, 1) << another.out << another.err;
    EXPECT_NE(another.err.find("CIS0002"), std::string::npos) << another.err;
}

struct Refusal {
    const char* name;
    std::string camera;    // the CAMERA argument
    bool withoutMono8;     // the camera's description lacks Mono8
    int framePeriodUs;     // the camera's frame period
    bool light;            // the target lit
    std::string options;   // more capture options
    std::string reason;    // part of the one line on stderr
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class CameraRefusalTest : public CameraTest, public ::testing::WithParamInterface<Refusal> {};

// Each failure ends the capture with one line, status 1 and no folder, not
// even the hidden one the series is written into.
TEST_P(CameraRefusalTest, EndsWithItsReasonAndLeavesNoFolder) {
    const Refusal& refusal = GetParam();
    TestCameraOptions options = SmallModule();
    if (refusal.withoutMono8) options.genicamFile = TestCamera::DescriptionWithoutMono8(temp_.path());
    options.framePeriodUs = refusal.framePeriodUs;
    Start(options);
    camera_->SetLight(refusal.light);
    const ToolRun run =
        Run("capture " + refusal.camera + " --timeout 300 --out " + temp_.path() + "series " + refusal.options);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find(refusal.reason), std::string::npos) << run.err;
    const std::string lastLine = run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1);
    EXPECT_EQ(lastLine.rfind("cisffc: ", 0), 0u) << run.err;
    EXPECT_FALSE(fs::exists(temp_.path() + "series"));
    EXPECT_FALSE(fs::exists(temp_.path() + ".series.capturing"));
}

INSTANTIATE_TEST_SUITE_P(
    Capture, CameraRefusalTest,
    ::testing::Values(
        Refusal{"MissingCamera", "NO-SUCH-CAMERA", false, 5000, true, "", "camera NO-SUCH-CAMERA not found"},
        Refusal{"Mono8Refused", TestCamera::Address(), true, 5000, true, "", "refuses the pixel format Mono8"},
        Refusal{"FramesTimeOut", TestCamera::Address(), false, 20000000, true, "",
                "no frame from the camera within 300 ms"},
        Refusal{"NoLight", TestCamera::Address(), false, 5000, false, "", "the light is too weak"},
        // The series is written by then: the light never goes off.
        Refusal{"LightStaysOn", TestCamera::Address(), false, 5000, true, "--dark-unattended --dark-timeout 1",
                "the light did not go off"}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

}  // namespace
