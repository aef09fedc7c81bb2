// The camera identity a calibration keeps: the bounds of its text, checked
// alike when a calibration is made and when a file is read.
#ifndef VYR_FFC_API_CAMERA_IDENTITY_H
#define VYR_FFC_API_CAMERA_IDENTITY_H

#include <string>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

// Why `camera` is not an identity a calibration keeps (text that is not
// UTF-8, a control character, a field too long, too many notes, a key empty,
// holding '=' or given twice), or empty when it is one.
std::string CameraIdentityProblem(const CameraIdentity& camera);

// The identity as a calibration keeps it: its notes in ascending key order.
CameraIdentity KeptCameraIdentity(CameraIdentity camera);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CAMERA_IDENTITY_H
