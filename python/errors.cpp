#include "errors.h"

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc_python {

namespace {

// Created at import; they live as long as the interpreter.
PyObject* g_error = nullptr;           // vyrffc.Error(ValueError)
PyObject* g_file_error = nullptr;      // vyrffc.FileError(vyrffc.Error, OSError)
PyObject* g_skipped_warning = nullptr; // vyrffc.SkippedFileWarning(UserWarning)

bool IsFileReason(vyrffc::ErrorReason reason) {
    return reason == vyrffc::ErrorReason::kFolderMissing || reason == vyrffc::ErrorReason::kNoImageFiles ||
           reason == vyrffc::ErrorReason::kFileUnreadable;
}

// Sets the Python error for a failure of the library: the exception's message
// is the C++ message, its `reason` the reason's name.
void RaiseLibraryError(const vyrffc::Error& error) {
    PyObject* type = IsFileReason(error.reason()) ? g_file_error : g_error;
    PyObject* instance = PyObject_CallFunction(type, "s", error.what());
    if (instance == nullptr) return;  // the call set its own error
    PyObject* reason = PyUnicode_FromString(vyrffc::ReasonName(error.reason()));
    if (reason == nullptr || PyObject_SetAttrString(instance, "reason", reason) != 0) {
        Py_XDECREF(reason);
        Py_DECREF(instance);
        return;
    }
    Py_DECREF(reason);
    PyErr_SetObject(type, instance);
    Py_DECREF(instance);
}

PyObject* NewException(const char* name, const char* doc, PyObject* bases) {
    PyObject* type = PyErr_NewExceptionWithDoc(name, doc, bases, nullptr);
    if (type == nullptr) throw py::error_already_set();
    return type;
}

}  // namespace

void BindErrors(py::module_& m) {
    g_error = NewException(
        "vyrffc.Error",
        "A calibration, correction or calibration file failed. `reason` names why, e.g. \"too few images\" "
        "(one of vyrffc.REASONS); the message says it in a sentence.",
        PyExc_ValueError);
    const py::tuple fileBases = py::make_tuple(py::handle(g_error), py::handle(PyExc_OSError));
    g_file_error = NewException(
        "vyrffc.FileError",
        "A vyrffc.Error about a folder or file (reasons \"folder missing\", \"no image files\", "
        "\"file unreadable\"); also an OSError.",
        fileBases.ptr());
    g_skipped_warning = NewException("vyrffc.SkippedFileWarning",
                                     "A file of the calibration folder that the calibration could not use.",
                                     PyExc_UserWarning);
    m.attr("Error") = py::handle(g_error);
    m.attr("FileError") = py::handle(g_file_error);
    m.attr("SkippedFileWarning") = py::handle(g_skipped_warning);
    py::list reasons;
    for (vyrffc::ErrorReason reason : vyrffc::AllErrorReasons()) reasons.append(vyrffc::ReasonName(reason));
    m.attr("REASONS") = py::tuple(reasons);

    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const vyrffc::Error& error) {
            RaiseLibraryError(error);
        }
    });
}

void WarnSkipped(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) {
        if (PyErr_WarnEx(g_skipped_warning, warning.c_str(), 1) != 0) throw py::error_already_set();
    }
}

std::string PathArgument(const py::handle& path) {
    return py::module_::import("os").attr("fspath")(path).cast<std::string>();
}

}  // namespace vyrffc_python
