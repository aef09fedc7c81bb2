// vyrffc.Calibration and the functions that make one: calibrate,
// calibrate_images and load.
#ifndef VYRFFC_PYTHON_CALIBRATION_BINDING_H
#define VYRFFC_PYTHON_CALIBRATION_BINDING_H

#include <pybind11/pybind11.h>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc_python {

void BindCalibration(pybind11::module_& m);

// The calibration a vyrffc.Calibration holds; anything else raises TypeError.
const vyrffc::Calibration& CalibrationOf(const pybind11::handle& object);

}  // namespace vyrffc_python

#endif  // VYRFFC_PYTHON_CALIBRATION_BINDING_H
