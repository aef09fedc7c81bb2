#include "commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include <unistd.h>

#include <opencv2/imgcodecs.hpp>

#include "column_ranges.h"
#include "output_file.h"
#include "report.h"
#include "results_json.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

RunKind ParseRun(const std::string& text) {
    if (text == "current") return RunKind::Current;
    if (text == "previous") return RunKind::Previous;
    if (text == "segmented") return RunKind::Segmented;
    FailUsage("--run: expected current, previous or segmented, got \"" + text + "\"");
}

std::string HeldOutFolder(const std::string& folder) { return (fs::path(folder) / "heldout").string() + "/"; }

std::vector<std::string> ListBitmaps(const std::string& folder) {
    std::vector<std::string> paths;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (entry.is_regular_file() && entry.path().extension() == ".bmp") paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

// --replace removes only what a simulation writes: *.bmp files and the
// held-out folder of them.
bool HoldsOnlyAModule(const fs::path& folder) {
    std::error_code error;
    for (const auto& entry : fs::recursive_directory_iterator(folder, error)) {
        const fs::path relative = entry.path().lexically_relative(folder);
        const bool heldOutFolder = entry.is_directory() && relative == "heldout";
        const bool image = entry.is_regular_file() && entry.path().extension() == ".bmp" &&
                           (relative.parent_path().empty() || relative.parent_path() == "heldout");
        if (!heldOutFolder && !image) return false;
    }
    return !error;
}

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

void PrintCalibrationSummary(const Calibration& calibration) {
    const CalibrationSettings& settings = calibration.settings;
    const ImageCounts& counts = calibration.counts;
    std::cout << "Folder       " << calibration.scan.folder << "\n";
    std::cout << "Images       " << counts.found << " found, " << counts.used << " used (" << settings.imageWidth
              << "x" << settings.imageHeight << ")";
    if (!counts.wrongSize.empty()) std::cout << ", " << counts.wrongSize.size() << " skipped: wrong size";
    if (!counts.unreadable.empty()) std::cout << ", " << counts.unreadable.size() << " skipped: unreadable";
    std::cout << "\n";
    for (const std::string& name : counts.wrongSize) std::cout << "  skipped " << name << ": wrong size\n";
    for (const std::string& name : counts.unreadable) std::cout << "  skipped " << name << ": unreadable\n";
    std::cout << "Run          " << RunName(settings.run) << ", " << settings.significantDigits
              << " significant digits, " << Fixed(calibration.seconds, 3) << " s\n";
    std::cout << "Reference    columns " << FormatColumns(settings.referenceColumns) << " ("
              << settings.referenceColumns.size() << ")\n";
    std::cout << "Groups       " << settings.columnGroups.size() << " column groups\n";
    if (settings.run == RunKind::Segmented) {
        std::vector<int32_t> breaks;
        for (int32_t column : settings.referenceColumns) {
            if (calibration.segmentBreaks[column] != 256) breaks.push_back(calibration.segmentBreaks[column]);
        }
        std::sort(breaks.begin(), breaks.end());
        std::cout << "Breakpoints  ";
        if (breaks.empty()) {
            std::cout << "none\n";
        } else {
            std::cout << "quadratic pieces join at gray " << breaks.front() << " to " << breaks.back() << " (median "
                      << breaks[breaks.size() / 2] << ")\n";
        }
        const std::vector<int32_t> incomplete = calibration.incompleteColumns();
        if (!incomplete.empty()) {
            std::cout << "Incomplete   " << incomplete.size() << " column(s) with one piece only: "
                      << FormatColumns(incomplete) << "\n";
        }
        return;
    }
    std::vector<int32_t> flagged;
    for (size_t c = 0; c < calibration.columnFlags.size(); ++c) {
        if (calibration.columnFlags[c]) flagged.push_back(static_cast<int32_t>(c));
    }
    std::cout << "Dark columns " << flagged.size() << " flagged";
    for (size_t i = 0; i < flagged.size() && i < 8; ++i) {
        const auto& range = calibration.columnDarkRanges[flagged[i]];
        std::cout << (i == 0 ? ": " : ", ") << flagged[i];
        if (range.size() >= 2) std::cout << " (" << int(range[0]) << ".." << int(range[1]) << ")";
    }
    std::cout << (flagged.size() > 8 ? ", ..." : "") << "\n";
    if (settings.run == RunKind::Current) {
        std::cout << "Gains        quadratic " << calibration.realQuadGain << ", cubic " << calibration.realCubicGain
                  << " (folded into the coefficients)\n";
    } else {
        std::cout << "Gains        range gain " << calibration.rangeGain << "\n";
    }
}

// A segmented run that left columns with one piece wrote its results all the
// same; the command reports them and then fails.
void FailIfIncomplete(const Calibration& calibration) {
    if (calibration.succeeded) return;
    FailRun("the segmented calibration is incomplete: " + std::to_string(calibration.incompleteColumns().size()) +
            " column(s) had fewer than 10 points on one side of their overlap window");
}

}  // namespace

CalibrationSettings ToSettings(const CalibrationOptions& options) {
    CalibrationSettings settings;
    settings.run = ParseRun(options.run);
    settings.significantDigits = options.significantDigits;
    if ((options.imageWidth == 0) != (options.imageHeight == 0)) {
        FailUsage("--width and --height go together");
    }
    settings.imageWidth = options.imageWidth;
    settings.imageHeight = options.imageHeight;
    if (!options.referenceColumns.empty()) {
        settings.referenceColumns = ExpandRanges(ParseColumnRanges(options.referenceColumns, "--ref-cols"));
    }
    if (!options.columnGroups.empty()) {
        for (const ColumnRange& range : ParseColumnRanges(options.columnGroups, "--groups")) {
            settings.columnGroups.push_back(ExpandRanges({range}));
        }
    }
    settings.groupWidth = options.groupWidth;
    return settings;
}

int32_t ParseMode(const std::string& text, RunKind run) {
    int32_t mode = DefaultMode(run);
    if (text == "default") {
        mode = kDefaultMode;
    } else if (!text.empty()) {
        try {
            size_t used = 0;
            mode = std::stoi(text, &used);
            if (used != text.size()) throw std::invalid_argument(text);
        } catch (const std::exception&) {
            FailUsage("--mode: expected 0, 1, 4, 5, 6 or default, got \"" + text + "\"");
        }
    }
    if (run == RunKind::Segmented && mode != 0 && mode != 1) {
        FailUsage("--mode: the segmented calibration leaves only the polynomials of modes 0 and 1");
    }
    return mode;
}

TestFunction ParseTestFunction(const std::string& text, RunKind run) {
    if (text.empty()) return DefaultTestFunction(run);
    if (text == "current") return TestFunction::Current;
    if (text == "previous") return TestFunction::Previous;
    FailUsage("--test: expected current or previous, got \"" + text + "\"");
}

std::vector<std::string> WriteSimulatedModule(const SimulateCommand& command) {
    const cissim::SimulatorOptions& options = command.simulator;
    if (options.chips > options.width) FailUsage("--chips: more chips than columns");
    fs::path target = fs::path(command.folder).lexically_normal();
    if (target.filename().empty()) target = target.parent_path();  // "DIR/" names DIR itself
    std::error_code error;
    if (target.empty() || target.filename() == "." || target.filename() == ".." || target == target.root_path()) {
        FailUsage("name a new folder for the simulated module, not " + command.folder);
    }
    if (fs::exists(target) && !fs::is_empty(target, error)) {
        if (!command.replace) {
            FailUsage("the folder " + command.folder + " already holds files (use --replace to overwrite it)");
        }
        if (!HoldsOnlyAModule(target)) {
            FailUsage("the folder " + command.folder + " holds more than a simulated module; --replace leaves it be");
        }
    }
    // The module is written beside the target and moved into place whole.
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    EnsureFolder(parent.string());
    const fs::path temporary = parent / ("." + target.filename().string() + ".tmp" + std::to_string(::getpid()));
    fs::remove_all(temporary, error);
    try {
        cissim::WriteCalibrationFolder(temporary.string() + "/", options);
        EnsureFolder(HeldOutFolder(temporary.string()));
        cissim::WriteHeldOutImages(HeldOutFolder(temporary.string()), options, command.heldOut);
    } catch (const std::exception& failure) {
        fs::remove_all(temporary, error);
        FailRun("cannot write the simulated module: " + std::string(failure.what()));
    }
    fs::remove_all(target, error);
    fs::rename(temporary, target, error);
    if (error) {
        fs::remove_all(temporary, error);
        FailRun("cannot write the folder " + command.folder);
    }
    return ListBitmaps(HeldOutFolder(target.string()));
}

int RunSimulate(const SimulateCommand& command) {
    const std::vector<std::string> heldOut = WriteSimulatedModule(command);
    const cissim::SimulatorOptions& options = command.simulator;
    std::cout << "Wrote " << ListBitmaps(command.folder).size() << " calibration images of " << options.width << "x"
              << options.height << " (" << options.chips << " chips, seed " << options.seed << ") to "
              << command.folder << "\n"
              << "and " << heldOut.size() << " held-out flat images to " << HeldOutFolder(command.folder) << "\n";
    return kExitSuccess;
}

int RunCalibrate(const CalibrateCommand& command) {
    const Calibration calibration = Calibrate(command.folder, ToSettings(command.calibration));
    PrintCalibrationSummary(calibration);
    if (!command.jsonPath.empty()) {
        WriteFileAtomically(command.jsonPath, CalibrationToJson(calibration).dump(1) + "\n");
        std::cout << "Results      " << command.jsonPath << "\n";
    }
    FailIfIncomplete(calibration);
    return kExitSuccess;
}

int RunCorrect(const CorrectCommand& command) {
    const CalibrationSettings settings = ToSettings(command.calibration);
    const int32_t mode = ParseMode(command.mode, settings.run);
    const TestFunction test = ParseTestFunction(command.test, settings.run);
    const Calibration calibration = Calibrate(command.folder, settings);
    FailIfIncomplete(calibration);
    // Every image is corrected before the first is written, so a failure
    // leaves no output behind.
    std::vector<std::pair<std::string, cv::Mat>> outputs;
    for (const FlatImage& image : LoadFlatImages(command.images)) {
        const fs::path out = fs::path(command.outFolder) / image.name;
        for (const std::string& input : command.images) {
            std::error_code error;
            if (fs::equivalent(out, input, error)) {
                FailUsage("--out: " + out.string() + " would overwrite its input");
            }
        }
        outputs.emplace_back(out.string(), CorrectImage(calibration, test, mode, image.raw, image.name));
    }
    for (const auto& [path, image] : outputs) WriteImageAtomically(path, image);
    std::cout << "Corrected " << outputs.size() << " image(s) with the " << RunName(settings.run)
              << " calibration, mode " << ModeName(mode) << ", into " << command.outFolder << "\n";
    return kExitSuccess;
}

int RunReport(const ReportCommand& command) {
    if (fs::path(command.outPath).extension() != ".png") {
        FailUsage("--out: the picture is a PNG file, name it *.png");
    }
    const CalibrationSettings settings = ToSettings(command.calibration);
    const int32_t mode = ParseMode(command.mode, settings.run);
    const TestFunction test = ParseTestFunction(command.test, settings.run);
    const Calibration calibration = Calibrate(command.folder, settings);
    FailIfIncomplete(calibration);

    std::string source = command.heldOutFolder;
    if (source.empty() && fs::is_directory(HeldOutFolder(command.folder)) &&
        !ListBitmaps(HeldOutFolder(command.folder)).empty()) {
        source = HeldOutFolder(command.folder);
    }
    std::vector<std::string> paths;
    if (source.empty()) {
        std::cout << "No held-out images: measuring the calibration images themselves\n";
        for (const ImageFile& file : calibration.scan.files) {
            if (file.readable && file.rows == calibration.settings.imageHeight &&
                file.cols == calibration.settings.imageWidth) {
                paths.push_back(file.path);
            }
        }
    } else {
        if (!fs::is_directory(source)) FailRun("the folder " + source + " does not exist");
        paths = ListBitmaps(source);
        if (paths.empty()) FailRun("no file matches \"" + (fs::path(source) / "*.bmp").string() + "\"");
        std::cout << "Held-out images: " << source << "\n";
    }
    const std::vector<FlatImage> flats = LoadFlatImages(paths);
    const CorrectionOutcome outcome = EvaluateCorrection(calibration, test, mode, flats);
    PrintLevelTable(std::cout, flats, outcome);
    const cv::Mat figure = DrawReport("Flat-field calibration report: " + outcome.label + ", " + command.folder,
                                      flats, {outcome}, 0);
    WriteImageAtomically(command.outPath, figure);
    std::cout << "Picture: " << command.outPath << "\n";
    return kExitSuccess;
}

}  // namespace cisffc
