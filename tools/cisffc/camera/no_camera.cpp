// The tool built without a camera library: capture and check say so.
#include "camera/camera.h"

#include "tool_error.h"

namespace cisffc {

std::unique_ptr<Camera> Camera::Open(const std::string&) {
    FailUsage("this cisffc was built without the camera library (Aravis), so capture and check are left out; "
              "install libaravis-dev and build again");
}

std::string CameraSupport() { return "none"; }

}  // namespace cisffc
