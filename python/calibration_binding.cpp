// The Python module vyrffc: the C++ interface for Python hosts. Calibrations
// come from a folder or from numpy arrays, their results go out as numpy
// arrays, and correction runs with the interpreter lock released, on the same
// code and with the same bits as the C++ interface.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "VyrCISFlatfieldCorrection.hpp"
#include "cis_simulator.h"

namespace py = pybind11;

namespace {

// Created at import; they live as long as the interpreter.
PyObject* g_error = nullptr;           // vyrffc.Error(ValueError)
PyObject* g_file_error = nullptr;      // vyrffc.FileError(vyrffc.Error, OSError)
PyObject* g_skipped_warning = nullptr; // vyrffc.SkippedFileWarning(UserWarning)

constexpr vyrffc::ErrorReason kAllReasons[] = {
    vyrffc::ErrorReason::kInvalidSettings,  vyrffc::ErrorReason::kFolderMissing,
    vyrffc::ErrorReason::kNoImageFiles,     vyrffc::ErrorReason::kTooFewImages,
    vyrffc::ErrorReason::kColumnOutsideImage, vyrffc::ErrorReason::kAllSaturated,
    vyrffc::ErrorReason::kNoBrightnessRange, vyrffc::ErrorReason::kFileUnreadable,
    vyrffc::ErrorReason::kFileCorrupt,      vyrffc::ErrorReason::kFileTooNew,
    vyrffc::ErrorReason::kImageUnusable,    vyrffc::ErrorReason::kModeUnavailable,
    vyrffc::ErrorReason::kNoHoleCandidate,  vyrffc::ErrorReason::kDarkRangeMissing,
    vyrffc::ErrorReason::kUnfillableRow,
};

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

[[noreturn]] void Refuse(vyrffc::ErrorReason reason, const std::string& message) {
    throw vyrffc::Error(reason, message);
}

std::string PathArgument(const py::handle& path) {
    return py::module_::import("os").attr("fspath")(path).cast<std::string>();
}

void WarnSkipped(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) {
        if (PyErr_WarnEx(g_skipped_warning, warning.c_str(), 1) != 0) throw py::error_already_set();
    }
}

const char* RunName(vyrffc::CalibrationRun run) {
    switch (run) {
        case vyrffc::CalibrationRun::kCurrent: return "current";
        case vyrffc::CalibrationRun::kPrevious: return "previous";
        case vyrffc::CalibrationRun::kSegmented: return "segmented";
    }
    return "current";
}

vyrffc::CalibrationRun ParseRun(const std::string& run) {
    if (run == "current") return vyrffc::CalibrationRun::kCurrent;
    if (run == "previous") return vyrffc::CalibrationRun::kPrevious;
    if (run == "segmented") return vyrffc::CalibrationRun::kSegmented;
    Refuse(vyrffc::ErrorReason::kInvalidSettings,
           "unknown run '" + run + "': use 'current', 'previous' or 'segmented'");
}

vyrffc::Generation ParseGeneration(const std::string& generation) {
    if (generation == "current") return vyrffc::Generation::kCurrent;
    if (generation == "previous") return vyrffc::Generation::kPrevious;
    Refuse(vyrffc::ErrorReason::kInvalidSettings,
           "unknown generation '" + generation + "': use 'current' or 'previous'");
}

vyrffc::Settings MakeSettings(const std::string& run, int64_t digits,
                              const std::optional<std::vector<int32_t>>& referenceColumns,
                              const std::optional<std::vector<std::vector<int32_t>>>& groups,
                              const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                              int32_t groupWidth) {
    vyrffc::Settings settings;
    settings.run = ParseRun(run);
    if (digits < 0 || digits > UINT32_MAX) {
        Refuse(vyrffc::ErrorReason::kInvalidSettings, "digits must be a small positive number, not " +
                                                          std::to_string(digits));
    }
    settings.significantDigits = static_cast<uint32_t>(digits);
    if (referenceColumns) settings.referenceColumns = *referenceColumns;
    if (groups) settings.columnGroups = *groups;
    settings.imageWidth = width.value_or(0);
    settings.imageHeight = height.value_or(0);
    settings.groupWidth = groupWidth;
    return settings;
}

std::string Describe(const py::array& array) {
    return "dtype " + py::str(array.dtype()).cast<std::string>() + " and shape " +
           py::str(array.attr("shape")).cast<std::string>();
}

bool IsUint8(const py::array& array) { return array.dtype().kind() == 'u' && array.itemsize() == 1; }

py::array AsArray(const py::handle& object, const std::string& what) {
    if (!py::isinstance<py::array>(object)) {
        throw py::type_error(what + " must be a numpy array, not " +
                             py::str(py::type::handle_of(object).attr("__name__")).cast<std::string>());
    }
    return py::reinterpret_borrow<py::array>(object);
}

// An 8-bit gray image over rows x cols bytes of `array`, starting `offset`
// bytes in, one row every `rowStride` bytes.
cv::Mat GrayHeader(const py::array& array, py::ssize_t offset, py::ssize_t rows, py::ssize_t cols,
                   py::ssize_t rowStride) {
    if (rows == 0 || cols == 0) return cv::Mat();
    auto* data = static_cast<uint8_t*>(const_cast<void*>(array.data())) + offset;
    return cv::Mat(static_cast<int>(rows), static_cast<int>(cols), CV_8UC1, data,
                   rows == 1 ? cv::Mat::AUTO_STEP : static_cast<size_t>(rowStride));
}

// `array` itself when it is a uint8 array of `dims` dimensions whose lines are
// contiguous and do not overlap (any C-contiguous array, or whole rows picked
// from a larger one), a C-contiguous copy of any other uint8 array of `dims`
// dimensions; anything else is refused.
py::array UsableLayout(const py::array& array, const std::string& what, py::ssize_t dims) {
    if (!IsUint8(array) || array.ndim() != dims) {
        Refuse(vyrffc::ErrorReason::kImageUnusable,
               what + " has " + Describe(array) + "; it must be a " + std::to_string(dims) +
                   "-D uint8 array (8-bit gray, one sensor line per row)");
    }
    const py::ssize_t last = dims - 1;
    // The library indexes rows and columns with 32-bit ints.
    if (array.shape(last - 1) > INT32_MAX || array.shape(last) > INT32_MAX) {
        Refuse(vyrffc::ErrorReason::kImageUnusable,
               what + " has " + Describe(array) + ", beyond what the library indexes: at most " +
                   std::to_string(INT32_MAX) + " rows and as many columns");
    }
    bool inPlace = array.strides(last) == 1;
    for (py::ssize_t d = 0; d < last; ++d) {
        inPlace = inPlace && (array.shape(d) <= 1 || array.strides(d) >= array.shape(d + 1) * array.strides(d + 1));
    }
    if (inPlace) return array;
    // A copy that cannot be made raises (MemoryError) rather than giving nothing.
    return py::array_t<uint8_t, py::array::c_style | py::array::forcecast>(array);
}

// Holds the arrays whose memory the headers point into.
struct Images {
    std::vector<cv::Mat> mats;
    std::vector<py::array> keep;
};

Images ImagesArgument(const py::handle& images) {
    Images out;
    if (py::isinstance<py::array>(images)) {
        const py::array stack = UsableLayout(py::reinterpret_borrow<py::array>(images), "the image stack", 3);
        out.keep.push_back(stack);
        for (py::ssize_t i = 0; i < stack.shape(0); ++i) {
            out.mats.push_back(GrayHeader(stack, i * stack.strides(0), stack.shape(1), stack.shape(2),
                                          stack.strides(1)));
        }
        return out;
    }
    if (!py::isinstance<py::sequence>(images) || py::isinstance<py::str>(images)) {
        throw py::type_error("images must be a list of 2-D uint8 arrays or a 3-D uint8 array");
    }
    size_t index = 0;
    for (const py::handle item : images) {
        const std::string what = "image " + std::to_string(index++);
        const py::array image = UsableLayout(AsArray(item, what), what, 2);
        out.keep.push_back(image);
        out.mats.push_back(GrayHeader(image, 0, image.shape(0), image.shape(1), image.strides(0)));
    }
    return out;
}

// A read-only array over `values`, which it keeps. Its base is a capsule,
// which numpy cannot make writable: setflags(write=True) fails on the array
// and on every view of it, so an array shared between callers stays as made.
template <typename T>
py::array Frozen(std::vector<T> values, std::vector<py::ssize_t> shape, const py::dtype& dtype = py::dtype::of<T>()) {
    values.reserve(1);  // a data pointer even when empty, so numpy does not allocate its own
    auto owner = std::make_unique<std::vector<T>>(std::move(values));
    const py::capsule base(owner.get(), [](void* kept) { delete static_cast<std::vector<T>*>(kept); });
    const T* data = owner.release()->data();
    py::array array(dtype, std::move(shape), {}, data, base);
    array.attr("setflags")(py::arg("write") = false);
    return array;
}

// A (rows, cols) copy of per-column rows; a row of another length is cut or
// padded with zeros.
template <typename T>
py::array Table(const std::vector<std::vector<T>>& rows, size_t cols) {
    std::vector<T> values;
    values.reserve(rows.size() * cols);
    for (const std::vector<T>& row : rows) {
        for (size_t c = 0; c < cols; ++c) values.push_back(c < row.size() ? row[c] : T{});
    }
    return Frozen(std::move(values), {static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(cols)});
}

template <typename T>
py::array Vector(const std::vector<T>& values) {
    return Frozen(values, {static_cast<py::ssize_t>(values.size())});
}

// A (columns, 2, coefficients) copy of two-piece fits.
py::array Pieces(const std::vector<std::vector<std::vector<float>>>& table, size_t coefficients) {
    std::vector<float> values;
    values.reserve(table.size() * 2 * coefficients);
    for (const std::vector<std::vector<float>>& pieces : table) {
        for (size_t p = 0; p < 2; ++p) {
            for (size_t c = 0; c < coefficients; ++c) {
                values.push_back(p < pieces.size() && c < pieces[p].size() ? pieces[p][c] : 0.0f);
            }
        }
    }
    return Frozen(std::move(values), {static_cast<py::ssize_t>(table.size()), py::ssize_t{2},
                                      static_cast<py::ssize_t>(coefficients)});
}

// A calibration and the arrays already handed out for it. The calibration is
// immutable, so each array is made once, read-only, and shared.
struct PyCalibration {
    explicit PyCalibration(vyrffc::Calibration made) : calibration(std::move(made)) {}

    const vyrffc::Results& results() const { return calibration.results(); }

    template <typename Make>
    py::object Cached(const char* name, Make make) {
        if (!cache.contains(name)) cache[name] = make();
        return cache[name];
    }

    vyrffc::Calibration calibration;
    py::dict cache;
};

PyCalibration Calibrate(const py::object& folder, const std::string& run, int64_t digits,
                        const std::optional<std::vector<int32_t>>& referenceColumns,
                        const std::optional<std::vector<std::vector<int32_t>>>& groups,
                        const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                        int32_t groupWidth) {
    const std::string path = PathArgument(folder);
    const vyrffc::Settings settings = MakeSettings(run, digits, referenceColumns, groups, width, height, groupWidth);
    std::vector<std::string> warnings;
    std::optional<vyrffc::Calibration> made;
    {
        py::gil_scoped_release release;
        made.emplace(vyrffc::CalibrateFolder(path, settings, &warnings));
    }
    WarnSkipped(warnings);
    return PyCalibration(std::move(*made));
}

PyCalibration CalibrateImages(const py::object& images, const std::string& run, int64_t digits,
                              const std::optional<std::vector<int32_t>>& referenceColumns,
                              const std::optional<std::vector<std::vector<int32_t>>>& groups,
                              const std::optional<int32_t>& width, const std::optional<int32_t>& height,
                              int32_t groupWidth) {
    const vyrffc::Settings settings = MakeSettings(run, digits, referenceColumns, groups, width, height, groupWidth);
    const Images frames = ImagesArgument(images);
    std::vector<std::string> warnings;
    std::optional<vyrffc::Calibration> made;
    {
        py::gil_scoped_release release;
        made.emplace(vyrffc::CalibrateImages(frames.mats, settings, &warnings));
    }
    WarnSkipped(warnings);
    return PyCalibration(std::move(*made));
}

py::array Correct(const PyCalibration& self, const py::handle& image, int mode, const std::optional<std::string>& generation,
                  const std::optional<int64_t>& threads) {
    // Counts beyond an int are as many threads as the library uses, or as
    // negative as it refuses.
    const int count = static_cast<int>(std::clamp<int64_t>(threads.value_or(0), INT32_MIN, INT32_MAX));
    const vyrffc::Generation rule = generation ? ParseGeneration(*generation) : self.calibration.generation();
    const py::array input = UsableLayout(AsArray(image, "the image"), "the image", 2);
    const cv::Mat in = GrayHeader(input, 0, input.shape(0), input.shape(1), input.strides(0));
    py::array_t<uint8_t> corrected({input.shape(0), input.shape(1)});
    const cv::Mat target = GrayHeader(corrected, 0, corrected.shape(0), corrected.shape(1), corrected.strides(0));
    {
        py::gil_scoped_release release;
        cv::Mat out = target;
        self.calibration.Correct(in, out, mode, rule, count);
        // The output is written in place when it has the input's size; copy
        // otherwise rather than depend on it.
        if (out.data != target.data) {
            cv::Mat into = target;
            out.copyTo(into);
        }
    }
    return std::move(corrected);
}

PyCalibration LoadFile(const py::object& path) {
    const std::string source = PathArgument(path);
    std::optional<vyrffc::Calibration> loaded;
    {
        py::gil_scoped_release release;
        loaded.emplace(vyrffc::Calibration::Load(source));
    }
    return PyCalibration(std::move(*loaded));
}

py::tuple Simulate(const py::object& folder, int width, int height, int levels, int chips, int darkColumns,
                   uint32_t seed, int heldout) {
    if (width < 1 || height < 1 || levels < 2 || chips < 1 || chips > width || darkColumns < 0 ||
        darkColumns > width || heldout < 0) {
        throw py::value_error("simulate needs width >= chips >= 1, height >= 1, levels >= 2, "
                              "0 <= dark_columns <= width and heldout >= 0");
    }
    const std::string path = PathArgument(folder);
    cissim::SimulatorOptions options;
    options.width = width;
    options.height = height;
    options.levels = levels;
    options.chips = chips;
    options.darkColumns = darkColumns;
    options.seed = seed;
    std::vector<std::string> calibration, held;
    {
        py::gil_scoped_release release;
        calibration = cissim::WriteCalibrationFolder(path, options);
        if (heldout > 0) {
            const std::string base = path.empty() || path.back() == '/' ? path : path + '/';
            held = cissim::WriteHeldOutImages(base + "heldout", options, heldout);
        }
    }
    return py::make_tuple(calibration, held);
}

const char* const kModuleDoc = R"doc(Flat-field calibration of CIS line cameras.

Calibrate once from a folder of 8-bit BMP images of a uniform white target at
many light levels (or from the same images as numpy arrays), keep the result
in a file, and correct camera images with it:

    import vyrffc
    cal = vyrffc.calibrate("calib/")               # a Calibration
    cal.tables.shape, cal.cubic.shape               # (W, 256) int32, (W, 4) float32
    corrected = cal.correct(raw, mode=1)            # 2-D uint8 in, new 2-D uint8 out
    cal.save("module.ffcal"); cal = vyrffc.load("module.ffcal")

Failures raise vyrffc.Error (a ValueError) whose `reason` attribute holds the
library's reason, e.g. "too few images"; the reasons about folders and files
("folder missing", "no image files", "file unreadable") raise
vyrffc.FileError, which is also an OSError. vyrffc.REASONS lists every
reason. Files of a folder that a calibration skips are reported with
warnings.warn as vyrffc.SkippedFileWarning.

Results are bit for bit those of the C++ interface; calibration and
correction release the interpreter lock while they work.)doc";

const char* const kCalibrateArgs = R"doc(
run: "current", "previous" or "segmented".
digits: significant digits the coefficients are rounded to.
reference_columns: the columns whose level the others are mapped to;
    None: the middle fifth of the line (every column for the segmented run,
    which fits only these, sorted and without repeats).
groups: lists of columns compared for ripple; None: consecutive groups of
    group_width columns (a last group shorter than half of that joins none).
width, height: the image size to use; None: the size most images have.

Returns a Calibration. Raises vyrffc.Error (or vyrffc.FileError) with the
reason the calibration failed.)doc";

}  // namespace

PYBIND11_MODULE(vyrffc, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = vyrffc::LibraryVersion();
    m.attr("FILE_FORMAT_VERSION") = vyrffc::FileFormatVersion();

    g_error = PyErr_NewExceptionWithDoc(
        "vyrffc.Error",
        "A calibration, correction or calibration file failed. `reason` names why, e.g. \"too few images\" "
        "(one of vyrffc.REASONS); the message says it in a sentence.",
        PyExc_ValueError, nullptr);
    if (g_error == nullptr) throw py::error_already_set();
    const py::tuple fileBases = py::make_tuple(py::handle(g_error), py::handle(PyExc_OSError));
    g_file_error = PyErr_NewExceptionWithDoc(
        "vyrffc.FileError",
        "A vyrffc.Error about a folder or file (reasons \"folder missing\", \"no image files\", "
        "\"file unreadable\"); also an OSError.",
        fileBases.ptr(), nullptr);
    if (g_file_error == nullptr) throw py::error_already_set();
    g_skipped_warning = PyErr_NewExceptionWithDoc(
        "vyrffc.SkippedFileWarning", "A file of the calibration folder that the calibration could not use.",
        PyExc_UserWarning, nullptr);
    if (g_skipped_warning == nullptr) throw py::error_already_set();
    m.attr("Error") = py::handle(g_error);
    m.attr("FileError") = py::handle(g_file_error);
    m.attr("SkippedFileWarning") = py::handle(g_skipped_warning);
    py::list reasons;
    for (vyrffc::ErrorReason reason : kAllReasons) reasons.append(vyrffc::ReasonName(reason));
    m.attr("REASONS") = py::tuple(reasons);

    py::register_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const vyrffc::Error& error) {
            RaiseLibraryError(error);
        }
    });

    py::class_<PyCalibration> calibrationClass(m, "Calibration", R"doc(A finished calibration, immutable.

Made by vyrffc.calibrate, vyrffc.calibrate_images, vyrffc.load and
Calibration.from_bytes; it pickles. Any number of threads may correct through
one calibration at the same time.

The array properties are read-only numpy arrays, made on first access and
shared by later ones (copy one to change it). W is the image width. Arrays a
run does not write have no rows: the segmented run has no tables, dark flags
or dark ranges; the low/high runs have no pieces or breakpoints.)doc");
    calibrationClass
        .def_property_readonly("run", [](const PyCalibration& c) { return RunName(c.results().run); },
                               "The run that made it: \"current\", \"previous\" or \"segmented\".")
        .def_property_readonly(
            "generation",
            [](const PyCalibration& c) {
                return c.calibration.generation() == vyrffc::Generation::kCurrent ? "current" : "previous";
            },
            "The correction rule correct() uses by default: \"current\" or \"previous\".")
        .def(
            "modes",
            [](const PyCalibration& c, const std::optional<std::string>& generation) {
                return c.calibration.Modes(generation ? ParseGeneration(*generation) : c.calibration.generation());
            },
            py::arg("generation") = py::none(),
            "The modes correct() serves with the rule of `generation` (None: the run's own), ascending; the "
            "default mode is listed as 7. Other modes read results this run does not make (they would give a "
            "constant image) and raise vyrffc.Error with reason \"mode unavailable\".")
        .def_property_readonly("digits", [](const PyCalibration& c) { return c.results().significantDigits; },
                               "Significant digits of the coefficients.")
        .def_property_readonly("width", [](const PyCalibration& c) { return c.results().imageWidth; },
                               "Image width W (sensor columns).")
        .def_property_readonly("height", [](const PyCalibration& c) { return c.results().imageHeight; },
                               "Image height (lines per calibration image).")
        .def_property_readonly(
            "reference_columns",
            [](PyCalibration& c) { return c.Cached("reference_columns", [&] { return Vector(c.results().referenceColumns); }); },
            "The reference columns, int32 array (N,).")
        .def_property_readonly(
            "groups",
            [](PyCalibration& c) {
                return c.Cached("groups", [&] {
                    py::list groups;
                    for (const auto& group : c.results().columnGroups) groups.append(Vector(group));
                    return py::tuple(groups);
                });
            },
            "The column groups compared for ripple, a tuple of int32 arrays.")
        .def_property_readonly(
            "fit_range",
            [](const PyCalibration& c) {
                return py::make_tuple(c.results().fitLowBound, c.results().fitHighBound);
            },
            "(low, high): the exclusive bounds of the raw gray values the fits of the low/high runs use.")
        .def_property_readonly(
            "tables",
            [](PyCalibration& c) { return c.Cached("tables", [&] { return Table(c.results().columnLuts, 256); }); },
            "Per column the table from raw gray to reference level, int32 array (W, 256).")
        .def_property_readonly(
            "quad",
            [](PyCalibration& c) { return c.Cached("quad", [&] { return Table(c.results().quadCoeffs, 3); }); },
            "Per column the quadratic coefficients in ascending powers, float32 array (W, 3).")
        .def_property_readonly(
            "cubic",
            [](PyCalibration& c) { return c.Cached("cubic", [&] { return Table(c.results().cubicCoeffs, 4); }); },
            "Per column the cubic coefficients in ascending powers, float32 array (W, 4).")
        .def_property_readonly(
            "dark_flags",
            [](PyCalibration& c) {
                return c.Cached("dark_flags", [&] {
                    const std::vector<int32_t>& flags = c.results().columnFlags;
                    std::vector<uint8_t> flagged(flags.size());
                    for (size_t i = 0; i < flags.size(); ++i) flagged[i] = flags[i] == -1;
                    return Frozen(std::move(flagged), {static_cast<py::ssize_t>(flags.size())},
                                  py::dtype::of<bool>());
                });
            },
            "Per column whether its raw value stays 0 over several low levels, bool array (W,).")
        .def_property_readonly(
            "dark_ranges",
            [](PyCalibration& c) {
                return c.Cached("dark_ranges", [&] { return Table(c.results().columnDarkRanges, 2); });
            },
            "Per flagged column the lowest and highest level seen at raw 0, int32 array (W, 2); zeros for "
            "other columns.")
        .def_property_readonly(
            "gains",
            [](const PyCalibration& c) {
                const vyrffc::Results& r = c.results();
                py::dict gains;
                gains["quad_gain"] = r.quadGain;
                gains["quad_offset"] = r.quadOffset;
                gains["cubic_gain"] = r.cubicGain;
                gains["cubic_offset"] = r.cubicOffset;
                gains["real_quad_gain"] = r.realQuadGain;
                gains["real_cubic_gain"] = r.realCubicGain;
                gains["range_gain"] = r.rangeGain;
                return gains;
            },
            "The run's gains and offsets as a dict of floats (float32 values): quad_gain, quad_offset, "
            "cubic_gain, cubic_offset, real_quad_gain and real_cubic_gain (current run: folded into the "
            "coefficients), range_gain (previous run). A run leaves the others at 0 (real gains at 1).")
        .def_property_readonly(
            "seg_quad",
            [](PyCalibration& c) { return c.Cached("seg_quad", [&] { return Pieces(c.results().segQuadCoeffs, 3); }); },
            "Segmented run: per column the [lower, upper] quadratic pieces, float32 array (W, 2, 3).")
        .def_property_readonly(
            "seg_cubic",
            [](PyCalibration& c) { return c.Cached("seg_cubic", [&] { return Pieces(c.results().segCubicCoeffs, 4); }); },
            "Segmented run: per column the [lower, upper] cubic pieces, float32 array (W, 2, 4).")
        .def_property_readonly(
            "seg_quad_breaks",
            [](PyCalibration& c) { return c.Cached("seg_quad_breaks", [&] { return Vector(c.results().segQuadBreaks); }); },
            "Segmented run: per column the gray level where the quadratic pieces meet (256: none), int32 (W,).")
        .def_property_readonly(
            "seg_cubic_breaks",
            [](PyCalibration& c) { return c.Cached("seg_cubic_breaks", [&] { return Vector(c.results().segCubicBreaks); }); },
            "Segmented run: per column the gray level where the cubic pieces meet (256: none), int32 (W,).")
        .def_property_readonly(
            "incomplete_columns",
            [](const PyCalibration& c) { return Vector(c.results().IncompleteColumns()); },
            "Segmented run: the listed columns without two pieces at both orders, int32 (K,).")
        .def("correct", &Correct, py::arg("image"), py::arg("mode") = 1, py::arg("generation") = py::none(),
             py::arg("threads") = py::none(),
             R"doc(Corrects a camera image and returns the result as a new uint8 array.

image: a 2-D uint8 array, one sensor line per row, as wide as the
    calibration. It is read in place when its rows are contiguous (any
    C-contiguous array, or rows picked from one); other uint8 arrays are
    copied first. Another dtype or number of dimensions raises vyrffc.Error
    with reason "image unusable"; anything but a numpy array, TypeError.
mode: 0, 1, 4, 5 or 6; any other value is the default mode. A mode that
    modes(generation) does not list raises vyrffc.Error ("mode unavailable").
generation: None (the run's own), "current" or "previous".
threads: bands of rows corrected at once; None or 0: one per core; at most
    one per 16 rows and 256 in all; negative raises vyrffc.Error ("invalid
    settings"). The result is the same bits for every count.

The interpreter lock is released while it works.)doc")
        .def(
            "save",
            [](const PyCalibration& c, const py::object& path) {
                const std::string target = PathArgument(path);
                py::gil_scoped_release release;
                c.calibration.Save(target);
            },
            py::arg("path"),
            "Writes the calibration file (to a temporary file beside `path`, renamed over it once whole).")
        .def_static(
            "load",
            [](const py::object& path) {
                return LoadFile(path);
            },
            py::arg("path"), "Reads a calibration file; vyrffc.load does the same.")
        .def(
            "to_bytes", [](const PyCalibration& c) { return py::bytes(c.calibration.Serialize()); },
            "The calibration file's contents as bytes.")
        .def_static(
            "from_bytes",
            [](const py::bytes& contents) { return PyCalibration(vyrffc::Calibration::Deserialize(contents)); },
            py::arg("contents"), "A calibration read back from the bytes to_bytes() gave.")
        .def(py::pickle([](const PyCalibration& c) { return py::bytes(c.calibration.Serialize()); },
                        [](const py::bytes& contents) {
                            return PyCalibration(vyrffc::Calibration::Deserialize(contents));
                        }))
        .def("__repr__", [](const PyCalibration& c) {
            const vyrffc::Results& r = c.results();
            return "<vyrffc.Calibration " + std::string(RunName(r.run)) + " run, " + std::to_string(r.imageWidth) +
                   " x " + std::to_string(r.imageHeight) + ", " + std::to_string(r.significantDigits) + " digits>";
        });
    // pybind11 ignores __setstate__ on a calibration already made, silently;
    // unpickling calls it on a fresh one only, so on a live one it is refused.
    const py::object restore = calibrationClass.attr("__setstate__");
    calibrationClass.attr("__setstate__") = py::cpp_function(
        [restore](py::handle self, py::handle state) {
            auto* instance = reinterpret_cast<py::detail::instance*>(self.ptr());
            if (instance->get_value_and_holder().holder_constructed()) {
                throw py::type_error("a vyrffc.Calibration is immutable; make a new one with "
                                     "vyrffc.Calibration.from_bytes or pickle.loads");
            }
            restore(self, state);
        },
        py::is_method(calibrationClass), py::name("set_state"));

    m.def("calibrate", &Calibrate, py::arg("folder"), py::arg("run") = "current", py::arg("digits") = 6,
          py::arg("reference_columns") = py::none(), py::arg("groups") = py::none(), py::arg("width") = py::none(),
          py::arg("height") = py::none(), py::arg("group_width") = 64,
          (std::string("Calibrates from the *.bmp files of a folder (str or path-like).\n") + kCalibrateArgs +
           "\n\nFiles that cannot be used (another size, not an image, not a regular file) are\n"
           "skipped, each reported by warnings.warn as a vyrffc.SkippedFileWarning.")
              .c_str());
    m.def("calibrate_images", &CalibrateImages, py::arg("images"), py::arg("run") = "current",
          py::arg("digits") = 6, py::arg("reference_columns") = py::none(), py::arg("groups") = py::none(),
          py::arg("width") = py::none(), py::arg("height") = py::none(), py::arg("group_width") = 64,
          (std::string("Calibrates from images in memory: a list of 2-D uint8 arrays or a 3-D uint8 array "
                       "(images, rows, columns), with the results of writing them in this order as BMP files "
                       "into a folder and calibrating that. The arrays are read in place.\n") +
           kCalibrateArgs)
              .c_str());
    m.def(
        "load",
        [](const py::object& path) {
            return LoadFile(path);
        },
        py::arg("path"),
        "Reads a calibration file written by Calibration.save (or by the C++ interface). A truncated, "
        "damaged, inconsistent or newer file raises vyrffc.Error with its reason.");
    m.def("simulate", &Simulate, py::arg("folder"), py::arg("width") = 2048, py::arg("height") = 16,
          py::arg("levels") = 48, py::arg("chips") = 8, py::arg("dark_columns") = 6, py::arg("seed") = 1,
          py::arg("heldout") = 0,
          R"doc(Writes the images of a simulated CIS module looking at a white target.

folder gets one calibration image per light level, "level_000.bmp", ...,
from dark to beyond saturation; with heldout > 0, folder/heldout/ gets that
many flat images at mid-gray lights between the calibration levels. The same
seed writes the same images on any machine.

Returns (calibration image paths, held-out image paths).)doc");
}
