// Serves the test camera on the loopback interface until interrupted, for
// trying capture and check by hand:
//   cisffc_test_camera [WIDTH [SEED]]
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <thread>

#include "support/camera/test_camera.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void Stop(int) { g_stop = 1; }
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
    std::cout << "Serving a " << options.module.width << "-column CIS module (seed " << options.module.seed
              << ") at " << ffc::testing::TestCamera::Address() << ", serial " << options.serial
              << "; Ctrl+C stops it" << std::endl;
    while (!g_stop) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return 0;
}
