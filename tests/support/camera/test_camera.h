// A GigE Vision camera for the tests, served by the camera library's fake
// camera on the loopback interface: its frames are the simulated CIS module
// looking at the white target, at a light proportional to the exposure time.
// Started by the constructor and stopped by the destructor; traffic stays on
// 127.0.0.1.
#ifndef FFC_TEST_CAMERA_H
#define FFC_TEST_CAMERA_H

#include <cstdint>
#include <memory>
#include <string>

#include <opencv2/core/mat.hpp>

#include "cis_simulator.h"

namespace ffc::testing {

struct TestCameraOptions {
    cissim::SimulatorOptions module;  // its height is replaced by the frame height the client sets
    // Light in the simulator's units (the gray level an ideal column shows)
    // per microsecond of exposure: 345 at 3,450 us, where the simulator's
    // brightest calibration level is.
    double lightPerMicrosecond = 0.1;
    // Frames with the noise seeded by the exposure alone: every frame at one
    // exposure is the same, so that a captured folder can be rendered again
    // bit for bit. Otherwise every frame draws new noise.
    bool repeatable = true;
    int framePeriodUs = 5000;
    std::string serial = "CIS0001";
    // A GenICam description to serve instead of the library's own; empty for
    // the library's.
    std::string genicamFile;
};

class TestCamera {
public:
    explicit TestCamera(const TestCameraOptions& options);
    ~TestCamera();
    TestCamera(const TestCamera&) = delete;
    TestCamera& operator=(const TestCamera&) = delete;

    // False when the loopback interface could not be used.
    bool running() const;
    // The name to open it by.
    static std::string Address() { return "127.0.0.1"; }

    void SetLight(bool on);
    // Multiplies every column's gain by 1 + amplitude * (a smooth wave along
    // the line): the drift an aged lamp or a moved target gives.
    void DriftGains(double amplitude);
    void SetFramePeriod(int microseconds);

    // The frame served at this exposure with the light as it is now (in
    // repeatable mode, exactly the frame the camera sends).
    cv::Mat Render(uint32_t exposureUs, int lines) const;
    double Light(uint32_t exposureUs) const;

    // The library's own GenICam description without the pixel format Mono8,
    // written into `folder`; returns its path.
    static std::string DescriptionWithoutMono8(const std::string& folder);

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace ffc::testing

#endif  // FFC_TEST_CAMERA_H
