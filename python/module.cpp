// The Python module vyrffc: the C++ interface for Python hosts. Calibrations
// come from a folder or from numpy arrays, their results go out as numpy
// arrays, and correction runs with the interpreter lock released, on the same
// code and with the same bits as the C++ interface.
#include <pybind11/pybind11.h>

#include "VyrCISFlatfieldCorrection.hpp"
#include "calibration_binding.h"
#include "errors.h"
#include "figures.h"
#include "files.h"

namespace {

const char* const kModuleDoc = R"doc(Flat-field calibration of CIS line cameras.

Calibrate once from a folder of 8-bit BMP images of a uniform white target at
many light levels (or from the same images as numpy arrays), keep the result
in a file, and correct camera images with it:

    import vyrffc
    cal = vyrffc.calibrate("calib/")               # a Calibration
    cal.tables.shape, cal.cubic.shape               # (W, 256) int32, (W, 4) float32
    raw = vyrffc.read_image("line.bmp")             # 8-bit gray file to 2-D uint8
    corrected = cal.correct(raw, mode=1)            # 2-D uint8 in, new 2-D uint8 out
    cal.correct(raw, out=corrected)                 # or into an array of your own
    vyrffc.write_image("corrected.png", corrected)
    cal.save("module.ffcal"); cal = vyrffc.load("module.ffcal")

Failures raise vyrffc.Error (a ValueError) whose `reason` attribute holds the
library's reason, e.g. "too few images"; the reasons about folders and files
("folder missing", "no image files", "file unreadable") raise
vyrffc.FileError, which is also an OSError. vyrffc.REASONS lists every
reason. Files of a folder that a calibration skips are reported with
warnings.warn as vyrffc.SkippedFileWarning.

Sensor figures as EMVA 1288 defines them for a line sensor, and a verdict on
the images a calibration was made from:

    figures = vyrffc.sensor_figures(flat, dark)     # rows: repeated exposures
    print(figures)                                  # PRNU 0.178%, DSNU < 0.05 DN, ...
    verdict = vyrffc.assess(cal, images)            # verdict.warnings: what to fix

Results are bit for bit those of the C++ interface; calibration and
correction release the interpreter lock while they work.)doc";

}  // namespace

PYBIND11_MODULE(vyrffc, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = vyrffc::LibraryVersion();
    m.attr("FILE_FORMAT_VERSION") = vyrffc::FileFormatVersion();
    vyrffc_python::BindErrors(m);
    vyrffc_python::BindCalibration(m);
    vyrffc_python::BindFiles(m);
    vyrffc_python::BindFigures(m);
}
