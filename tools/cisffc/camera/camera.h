// A GenICam camera (GigE Vision or USB3 Vision) as capture and check use it:
// a Mono8 region as wide as the line and N lines high, an exposure time, and
// frames grabbed one at a time. The camera library is reached from
// camera.cpp only; every failure is a ToolError with a one-line reason.
#ifndef CISFFC_CAMERA_H
#define CISFFC_CAMERA_H

#include <cstdint>
#include <memory>
#include <string>

#include <opencv2/core/mat.hpp>

namespace cisffc {

struct CameraIdentity {
    std::string id;  // the name the camera library lists it under
    std::string vendor;
    std::string model;
    std::string serial;  // DeviceSerialNumber
};

// How many frames came back broken over the camera's life: incomplete (lost
// packets), missing (no free buffer when the frame arrived) and timed out.
struct FrameCounts {
    uint64_t complete = 0;
    uint64_t incomplete = 0;
    uint64_t missing = 0;
};

class Camera {
public:
    // Opens the camera named by its id, serial number or address; an empty
    // name opens the only camera found and refuses a choice of several.
    static std::unique_ptr<Camera> Open(const std::string& name);
    virtual ~Camera() = default;

    virtual CameraIdentity Identity() const = 0;
    // The widest region the camera offers.
    virtual int32_t MaxWidth() const = 0;
    // Mono8, `width` columns from the left edge, `lines` rows per frame.
    virtual void SetRegion(int32_t width, int32_t lines) = 0;
    virtual void ExposureBounds(double& shortest, double& longest) const = 0;
    // Sets the exposure in microseconds and returns what the camera took.
    virtual double SetExposure(double microseconds) = 0;
    virtual double Exposure() const = 0;
    // Starts the acquisition, drops `settle` frames (taken while a new
    // exposure may not yet apply), returns the next `count` frames summed
    // into 32-bit pixels and stops. A frame that does not arrive within
    // `timeoutMs` ends the command; so do more broken frames than the
    // acquisition needs good ones.
    virtual cv::Mat GrabSum(int count, int settle, int timeoutMs) = 0;
    virtual FrameCounts Counts() const = 0;
};

// The camera library's own version, or why capture and check are left out.
std::string CameraSupport();

}  // namespace cisffc

#endif  // CISFFC_CAMERA_H
