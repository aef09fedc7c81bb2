#include "support/camera/test_camera.h"

#include <arv.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <regex>

#include "random.h"

namespace ffc::testing {

struct TestCamera::State {
    TestCameraOptions options;
    ArvGvFakeCamera* gv = nullptr;
    ArvFakeCamera* fake = nullptr;
    mutable std::mutex mutex;  // the module, its copies per height, and the frame count
    cissim::CisCamera module;
    mutable std::map<int, cissim::CisCamera> byHeight;
    std::atomic<bool> light{true};
    uint32_t frames = 0;

    const cissim::CisCamera& ModuleOfHeight(int lines) const {
        auto found = byHeight.find(lines);
        if (found == byHeight.end()) {
            cissim::CisCamera copy = module;
            copy.options.height = lines;
            found = byHeight.emplace(lines, std::move(copy)).first;
        }
        return found->second;
    }

    double Light(uint32_t exposureUs) const { return light ? exposureUs * options.lightPerMicrosecond : 0.0; }

    // The dark frames of one exposure draw other noise than its lit frames.
    uint64_t Seed(uint32_t exposureUs, uint32_t frame) const {
        const uint32_t index = options.repeatable ? (exposureUs & 0x7FFFFFu) | (light ? 0u : 0x800000u) : frame;
        return cissim::FrameSeed(options.module.seed, cissim::kCameraFrameStream, index);
    }
};

namespace {

void Fill(ArvBuffer* buffer, void* data, guint32 exposureUs, guint32, ArvPixelFormat format) {
    auto* state = static_cast<TestCamera::State*>(data);
    const int width = arv_buffer_get_image_width(buffer);
    const int lines = arv_buffer_get_image_height(buffer);
    // The buffer's size is set only once it is filled; it was allocated for
    // the payload the camera announced.
    auto* pixels = static_cast<uint8_t*>(const_cast<void*>(arv_buffer_get_data(buffer, nullptr)));
    if (pixels == nullptr || format != ARV_PIXEL_FORMAT_MONO_8 ||
        arv_fake_camera_get_payload(state->fake) < static_cast<size_t>(width) * lines) {
        return;
    }
    std::lock_guard<std::mutex> lock(state->mutex);
    const cissim::CisCamera& module = state->ModuleOfHeight(lines);
    const cv::Mat frame =
        cissim::RenderFlatImage(module, state->Light(exposureUs), state->Seed(exposureUs, state->frames++));
    // The client may ask for fewer columns than the module has.
    for (int r = 0; r < lines; ++r) {
        std::memcpy(pixels + static_cast<size_t>(r) * width, frame.ptr<uint8_t>(r),
                    static_cast<size_t>(std::min(width, frame.cols)));
    }
}

}  // namespace

TestCamera::TestCamera(const TestCameraOptions& options) : state_(std::make_unique<State>()) {
    state_->options = options;
    state_->module = cissim::MakeCamera(options.module);
    const char* genicam = options.genicamFile.empty() ? nullptr : options.genicamFile.c_str();
    state_->gv = arv_gv_fake_camera_new_full("lo", options.serial.c_str(), genicam);
    if (state_->gv == nullptr || !arv_gv_fake_camera_is_running(state_->gv)) return;
    state_->fake = arv_gv_fake_camera_get_fake_camera(state_->gv);
    arv_fake_camera_write_register(state_->fake, ARV_FAKE_CAMERA_REGISTER_SENSOR_WIDTH,
                                   static_cast<guint32>(options.module.width));
    arv_fake_camera_write_register(state_->fake, ARV_FAKE_CAMERA_REGISTER_WIDTH,
                                   static_cast<guint32>(options.module.width));
    arv_fake_camera_write_register(state_->fake, ARV_FAKE_CAMERA_REGISTER_HEIGHT,
                                   static_cast<guint32>(options.module.height));
    SetFramePeriod(options.framePeriodUs);
    arv_fake_camera_set_fill_pattern(state_->fake, Fill, state_.get());
}

TestCamera::~TestCamera() {
    if (state_->gv != nullptr) g_object_unref(state_->gv);
}

bool TestCamera::running() const { return state_->gv != nullptr && arv_gv_fake_camera_is_running(state_->gv); }

void TestCamera::SetLight(bool on) { state_->light = on; }

void TestCamera::DriftGains(double amplitude) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    std::vector<double>& gains = state_->module.columnGain;
    const double width = static_cast<double>(gains.size());
    for (size_t c = 0; c < gains.size(); ++c) {
        gains[c] *= 1.0 + amplitude * std::sin(2.0 * cissim::kPi * 3.0 * c / width);
    }
    state_->byHeight.clear();
}

void TestCamera::SetFramePeriod(int microseconds) {
    if (state_->fake != nullptr) {
        arv_fake_camera_write_register(state_->fake, ARV_FAKE_CAMERA_REGISTER_ACQUISITION_FRAME_PERIOD_US,
                                       static_cast<guint32>(microseconds));
    }
}

double TestCamera::Light(uint32_t exposureUs) const { return state_->Light(exposureUs); }

cv::Mat TestCamera::Render(uint32_t exposureUs, int lines) const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return cissim::RenderFlatImage(state_->ModuleOfHeight(lines), state_->Light(exposureUs),
                                   state_->Seed(exposureUs, 0));
}

std::string TestCamera::DescriptionWithoutMono8(const std::string& folder) {
    ArvFakeCamera* camera = arv_fake_camera_new("XML");
    size_t size = 0;
    const char* xml = arv_fake_camera_get_genicam_xml(camera, &size);
    std::string text(xml, size);
    g_object_unref(camera);
    text = std::regex_replace(text, std::regex("<EnumEntry Name=\"Mono8\"[\\s\\S]*?</EnumEntry>"), "");
    const std::string path = folder + "no_mono8.xml";
    std::ofstream(path) << text;
    return path;
}

}  // namespace ffc::testing
