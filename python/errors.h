// The module's exceptions: every failure of the library becomes vyrffc.Error
// (or vyrffc.FileError for folders and files) carrying the reason's name.
#ifndef VYRFFC_PYTHON_ERRORS_H
#define VYRFFC_PYTHON_ERRORS_H

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace vyrffc_python {

namespace py = pybind11;

// Creates Error, FileError, SkippedFileWarning and REASONS in `m` and
// translates vyrffc::Error from then on.
void BindErrors(py::module_& m);

// Reports each skipped file with warnings.warn as a SkippedFileWarning.
void WarnSkipped(const std::vector<std::string>& warnings);

// os.fspath(path) as a string: str or any path-like object.
std::string PathArgument(const py::handle& path);

}  // namespace vyrffc_python

#endif  // VYRFFC_PYTHON_ERRORS_H
