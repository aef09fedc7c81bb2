// The camera through Aravis' C API: the only file of the tool that knows
// GenICam.
#include "camera/camera.h"

#include <arv.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tool_error.h"

namespace cisffc {

namespace {

// A camera library message on one line.
std::string OneLine(const char* text) {
    std::string line = text != nullptr ? text : "no reason given";
    std::replace(line.begin(), line.end(), '\n', ' ');
    std::replace(line.begin(), line.end(), '\r', ' ');
    return line;
}

// Ends the command with `what` and the library's reason when `error` is set.
void Check(GError*& error, const std::string& what) {
    if (error == nullptr) return;
    const std::string reason = OneLine(error->message);
    g_clear_error(&error);
    FailRun(what + ": " + reason);
}

std::string Text(const char* value) { return value != nullptr ? value : ""; }

// The camera when the name is empty: the only one found.
std::string OnlyCamera() {
    arv_update_device_list();
    const unsigned count = arv_get_n_devices();
    if (count == 0) FailRun("no camera found (check the cable, the network and the camera's power)");
    if (count > 1) {
        std::string ids;
        for (unsigned i = 0; i < count; ++i) ids += (i == 0 ? "" : ", ") + Text(arv_get_device_id(i));
        FailUsage(std::to_string(count) + " cameras found; name one of " + ids);
    }
    return Text(arv_get_device_id(0));
}

class AravisCamera final : public Camera {
public:
    explicit AravisCamera(const std::string& name) {
        const std::string id = name.empty() ? OnlyCamera() : name;
        GError* error = nullptr;
        camera_ = arv_camera_new(id.c_str(), &error);
        if (camera_ == nullptr) {
            const std::string reason = error != nullptr ? OneLine(error->message) : "not found";
            g_clear_error(&error);
            FailRun("camera " + id + " not found (" + reason + ")");
        }
        identity_.id = Text(arv_camera_get_device_id(camera_, nullptr));
        identity_.vendor = Text(arv_camera_get_vendor_name(camera_, nullptr));
        identity_.model = Text(arv_camera_get_model_name(camera_, nullptr));
        identity_.serial = Text(arv_camera_get_device_serial_number(camera_, nullptr));
        // The levels must come from the exposure alone.
        if (arv_camera_is_exposure_auto_available(camera_, nullptr)) {
            arv_camera_set_exposure_time_auto(camera_, ARV_AUTO_OFF, nullptr);
        }
        if (arv_camera_is_gain_auto_available(camera_, nullptr)) {
            arv_camera_set_gain_auto(camera_, ARV_AUTO_OFF, nullptr);
        }
        if (arv_camera_is_black_level_auto_available(camera_, nullptr)) {
            arv_camera_set_black_level_auto(camera_, ARV_AUTO_OFF, nullptr);
        }
    }

    ~AravisCamera() override {
        if (acquiring_) arv_camera_stop_acquisition(camera_, nullptr);
        if (stream_ != nullptr) g_object_unref(stream_);
        g_object_unref(camera_);
    }

    CameraIdentity Identity() const override { return identity_; }

    int32_t MaxWidth() const override {
        GError* error = nullptr;
        gint lowest = 0;
        gint widest = 0;
        arv_camera_get_width_bounds(camera_, &lowest, &widest, &error);
        Check(error, "cannot read the camera's width");
        return widest;
    }

    void SetRegion(int32_t width, int32_t lines) override {
        GError* error = nullptr;
        arv_camera_set_pixel_format(camera_, ARV_PIXEL_FORMAT_MONO_8, &error);
        if (error != nullptr || arv_camera_get_pixel_format(camera_, nullptr) != ARV_PIXEL_FORMAT_MONO_8) {
            g_clear_error(&error);
            FailRun("the camera refuses the pixel format Mono8, which calibration needs");
        }
        arv_camera_set_region(camera_, 0, 0, width, lines, &error);
        gint x = 0, y = 0, gotWidth = 0, gotLines = 0;
        if (error == nullptr) arv_camera_get_region(camera_, &x, &y, &gotWidth, &gotLines, &error);
        if (error != nullptr || gotWidth != width || gotLines != lines || x != 0) {
            const std::string reason = error != nullptr ? " (" + OneLine(error->message) + ")" : "";
            g_clear_error(&error);
            FailRun("the camera refuses a region of " + std::to_string(width) + " columns by " +
                    std::to_string(lines) + " lines" + reason);
        }
        arv_camera_set_acquisition_mode(camera_, ARV_ACQUISITION_MODE_CONTINUOUS, &error);
        Check(error, "the camera refuses continuous acquisition");
        width_ = width;
        lines_ = lines;
        OpenStream();
    }

    void ExposureBounds(double& shortest, double& longest) const override {
        GError* error = nullptr;
        arv_camera_get_exposure_time_bounds(camera_, &shortest, &longest, &error);
        Check(error, "the camera has no exposure time to set");
    }

    double SetExposure(double microseconds) override {
        GError* error = nullptr;
        arv_camera_set_exposure_time(camera_, microseconds, &error);
        Check(error, "the camera refuses the exposure time " + std::to_string(microseconds) + " us");
        return Exposure();
    }

    double Exposure() const override {
        GError* error = nullptr;
        const double exposure = arv_camera_get_exposure_time(camera_, &error);
        Check(error, "cannot read the camera's exposure time");
        return exposure;
    }

    cv::Mat GrabSum(int count, int settle, int timeoutMs) override {
        if (stream_ == nullptr) FailRun("the camera's region is not set");
        cv::Mat sum(lines_, width_, CV_32SC1, cv::Scalar(0));
        Start();
        int good = 0;
        int broken = 0;
        while (good < settle + count) {
            ArvBuffer* buffer = arv_stream_timeout_pop_buffer(stream_, static_cast<guint64>(timeoutMs) * 1000u);
            if (buffer == nullptr) {
                Stop();
                FailRun("no frame from the camera within " + std::to_string(timeoutMs) +
                        " ms (is it waiting for a trigger? try a longer --timeout)");
            }
            const bool complete = arv_buffer_get_status(buffer) == ARV_BUFFER_STATUS_SUCCESS;
            if (complete && good++ >= settle) Add(buffer, sum);
            if (complete) ++counts_.complete; else ++counts_.incomplete;
            arv_stream_push_buffer(stream_, buffer);
            // A few lost frames are taken again; many mean the link cannot
            // carry the frames at this rate.
            if (!complete && ++broken > std::max(3, count)) {
                Stop();
                FailRun("the camera's frames arrive broken (" + std::to_string(broken) +
                        " incomplete or dropped); check the link or lower the frame rate");
            }
        }
        Stop();
        return sum;
    }

    FrameCounts Counts() const override {
        FrameCounts counts = counts_;
        if (stream_ != nullptr) {
            guint64 completed = 0, failures = 0, underruns = 0;
            arv_stream_get_statistics(stream_, &completed, &failures, &underruns);
            counts.missing = underruns;
        }
        return counts;
    }

private:
    void OpenStream() {
        if (stream_ != nullptr) g_object_unref(stream_);
        stream_ = nullptr;
        GError* error = nullptr;
        // Large frames over GigE Vision go in the largest packets the link takes.
        if (arv_camera_is_gv_device(camera_)) arv_camera_gv_auto_packet_size(camera_, nullptr);
        stream_ = arv_camera_create_stream(camera_, nullptr, nullptr, &error);
        Check(error, "cannot open the camera's stream");
        const guint payload = arv_camera_get_payload(camera_, &error);
        Check(error, "cannot read the camera's frame size");
        for (int i = 0; i < kBuffers; ++i) arv_stream_push_buffer(stream_, arv_buffer_new(payload, nullptr));
    }

    void Start() {
        GError* error = nullptr;
        arv_camera_start_acquisition(camera_, &error);
        Check(error, "the camera does not start acquiring");
        acquiring_ = true;
    }

    // Stops and hands back the frames that arrived after the last one wanted,
    // so that the next acquisition starts with none from this one.
    void Stop() {
        arv_camera_stop_acquisition(camera_, nullptr);
        acquiring_ = false;
        while (ArvBuffer* stale = arv_stream_try_pop_buffer(stream_)) arv_stream_push_buffer(stream_, stale);
    }

    void Add(ArvBuffer* buffer, cv::Mat& sum) {
        size_t size = 0;
        const auto* data = static_cast<const uint8_t*>(arv_buffer_get_image_data(buffer, &size));
        if (arv_buffer_get_image_pixel_format(buffer) != ARV_PIXEL_FORMAT_MONO_8 ||
            arv_buffer_get_image_width(buffer) != width_ || arv_buffer_get_image_height(buffer) != lines_ ||
            data == nullptr || size < static_cast<size_t>(width_) * lines_) {
            Stop();
            FailRun("the camera sent a frame other than the Mono8 region set");
        }
        for (int r = 0; r < lines_; ++r) {
            int32_t* row = sum.ptr<int32_t>(r);
            const uint8_t* pixels = data + static_cast<size_t>(r) * width_;
            for (int c = 0; c < width_; ++c) row[c] += pixels[c];
        }
    }

    static constexpr int kBuffers = 8;
    ArvCamera* camera_ = nullptr;
    ArvStream* stream_ = nullptr;
    bool acquiring_ = false;
    int32_t width_ = 0;
    int32_t lines_ = 0;
    CameraIdentity identity_;
    FrameCounts counts_;
};

}  // namespace

std::unique_ptr<Camera> Camera::Open(const std::string& name) { return std::make_unique<AravisCamera>(name); }

std::string CameraSupport() {
    return "Aravis " + std::to_string(arv_get_major_version()) + "." + std::to_string(arv_get_minor_version()) +
           "." + std::to_string(arv_get_micro_version());
}

}  // namespace cisffc
