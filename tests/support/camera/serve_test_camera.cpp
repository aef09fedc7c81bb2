// Serves the test camera on the loopback interface until interrupted, for
// trying capture and check by hand:
//   cisffc_test_camera [WIDTH [SEED]]
// SIGUSR1 switches the light off and on, SIGUSR2 makes the column gains
// drift by 3%.
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "support/camera/test_camera.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_toggles = 0;
volatile std::sig_atomic_t g_drifts = 0;
void Stop(int) { g_stop = 1; }
void ToggleLight(int) { g_toggles = g_toggles + 1; }
void Drift(int) { g_drifts = g_drifts + 1; }
}  // namespace

int main(int argc, char** argv) {
    ffc::testing::TestCameraOptions options;
    options.module.width = argc > 1 ? std::atoi(argv[1]) : 2048;
    options.module.seed = argc > 2 ? static_cast<uint32_t>(std::atoi(argv[2])) : 1u;
    options.repeatable = false;
    ffc::testing::TestCamera camera(options);
    if (!camera.running()) {
        std::cerr << "cisffc_test_camera: cannot serve on the loopback interface\n";
        return 1;
    }
    std::signal(SIGINT, Stop);
    std::signal(SIGTERM, Stop);
    std::signal(SIGUSR1, ToggleLight);
    std::signal(SIGUSR2, Drift);
    std::cout << "Serving a " << options.module.width << "-column CIS module (seed " << options.module.seed
              << ") at " << ffc::testing::TestCamera::Address() << ", serial " << options.serial
              << "; Ctrl+C stops it" << std::endl;
    int toggles = 0;
    int drifts = 0;
    while (!g_stop) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (toggles != g_toggles) camera.SetLight(++toggles % 2 == 0);
        if (drifts != g_drifts) {
            camera.DriftGains(0.03);
            ++drifts;
        }
    }
    return 0;
}
