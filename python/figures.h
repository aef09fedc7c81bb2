// Sensor figures of a line image and the verdict on a calibration set:
// measure_line, sensor_figures, nearest_half_saturation, format_figure and
// assess.
#ifndef VYRFFC_PYTHON_FIGURES_H
#define VYRFFC_PYTHON_FIGURES_H

#include <pybind11/pybind11.h>

namespace vyrffc_python {

void BindFigures(pybind11::module_& m);

}  // namespace vyrffc_python

#endif  // VYRFFC_PYTHON_FIGURES_H
