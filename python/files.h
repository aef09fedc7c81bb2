// Image files and simulated modules: read_image, write_image and simulate.
#ifndef VYRFFC_PYTHON_FILES_H
#define VYRFFC_PYTHON_FILES_H

#include <pybind11/pybind11.h>

namespace vyrffc_python {

void BindFiles(pybind11::module_& m);

}  // namespace vyrffc_python

#endif  // VYRFFC_PYTHON_FILES_H
