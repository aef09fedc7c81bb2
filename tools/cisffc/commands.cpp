#include "commands.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <random>
#include <cstdio>
#include <filesystem>
#include <future>
#include <iostream>

#include <opencv2/imgcodecs.hpp>

#include "column_ranges.h"
#include "images.h"
#include "output_file.h"
#include "platform.h"
#include "report.h"
#include "results_json.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

RunKind ParseRun(const std::string& text) {
    if (const std::optional<RunKind> run = vyrffc::RunNamed(text)) return *run;
    FailUsage("--run: expected current, previous or segmented, got \"" + text + "\"");
}

std::string HeldOutFolder(const std::string& folder) { return (fs::path(folder) / "heldout").string() + "/"; }

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

void PrintCalibrationSummary(std::ostream& out, const Calibration& calibration) {
    const vyrffc::Results& r = calibration.results();
    out << "Source       " << calibration.source << "\n";
    out << "Image size   " << r.imageWidth << "x" << r.imageHeight << "\n";
    out << "Run          " << RunName(r.run) << ", " << r.significantDigits << " significant digits";
    if (calibration.seconds > 0.0) out << ", " << Fixed(calibration.seconds, 3) << " s";
    out << "\n";
    out << "Reference    columns " << FormatColumns(r.referenceColumns) << " (" << r.referenceColumns.size()
              << ")\n";
    out << "Groups       " << r.columnGroups.size() << " column groups\n";
    if (r.run == RunKind::kSegmented) {
        std::vector<int32_t> breaks;
        for (int32_t column : r.referenceColumns) {
            if (r.segQuadBreaks[column] != 256) breaks.push_back(r.segQuadBreaks[column]);
        }
        std::sort(breaks.begin(), breaks.end());
        out << "Breakpoints  ";
        if (breaks.empty()) {
            out << "none\n";
        } else {
            out << "quadratic pieces join at gray " << breaks.front() << " to " << breaks.back() << " (median "
                      << breaks[breaks.size() / 2] << ")\n";
        }
        const std::vector<int32_t> incomplete = r.IncompleteColumns();
        if (!incomplete.empty()) {
            out << "Incomplete   " << incomplete.size() << " column(s) with one piece only: "
                      << FormatColumns(incomplete) << "\n";
        }
        return;
    }
    std::vector<int32_t> flagged;
    for (size_t c = 0; c < r.columnFlags.size(); ++c) {
        if (r.columnFlags[c]) flagged.push_back(static_cast<int32_t>(c));
    }
    out << "Dark columns " << flagged.size() << " flagged";
    for (size_t i = 0; i < flagged.size() && i < 8; ++i) {
        const auto& range = r.columnDarkRanges[flagged[i]];
        out << (i == 0 ? ": " : ", ") << flagged[i];
        if (range.size() >= 2) out << " (" << range[0] << ".." << range[1] << ")";
    }
    out << (flagged.size() > 8 ? ", ..." : "") << "\n";
    if (r.run == RunKind::kCurrent) {
        out << "Gains        quadratic " << r.realQuadGain << ", cubic " << r.realCubicGain
                  << " (folded into the coefficients)\n";
    } else {
        out << "Gains        range gain " << r.rangeGain << "\n";
    }
}

// A segmented run that left columns with one piece holds its results all the
// same; the command reports them and then fails.
void FailIfIncomplete(const Calibration& calibration) {
    const std::vector<int32_t> incomplete = calibration.results().IncompleteColumns();
    if (incomplete.empty()) return;
    FailRun("the segmented calibration is incomplete: " + std::to_string(incomplete.size()) +
            " column(s) had fewer than 10 points on one side of their overlap window");
}

void PrintNotes(const Calibration& calibration) {
    for (const std::string& warning : calibration.warnings) ToolErrors() << "note: " << warning << "\n";
}

// The calibration a command works with: a saved file, or a run on the folder.
// The run is known before the folder is calibrated, so the mode can be
// checked first; `prepare` does that.
template <typename Prepare>
Calibration ObtainCalibration(const std::string& file, const std::string& folder, const CalibrationOptions& options,
                              Prepare prepare) {
    if (!file.empty()) {
        Calibration calibration = LoadCalibration(file);
        prepare(calibration.results().run);
        return calibration;
    }
    const vyrffc::Settings settings = ToSettings(options);
    prepare(settings.run);
    Calibration calibration = CalibrateFromFolder(folder, settings);
    PrintNotes(calibration);
    return calibration;
}

// One line on a terminal, rewritten in place. It is cut to the terminal's
// width: a line that wraps is rewritten from its last row only, leaving the
// rows above it behind on every update.
class Progress {
public:
    Progress(size_t total, bool shown) : total_(total), shown_(shown && StandardErrorIsTerminal()) {
        NoteImagesDone(0, total);
    }
    // At most ten times a second, and once at the end.
    void Update(size_t done) {
        NoteImagesDone(done, total_);
        if (!shown_) return;
        const auto now = std::chrono::steady_clock::now();
        if (done < total_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? done / seconds : 0.0;
        const double left = rate > 0 ? (total_ - done) / rate : 0.0;
        char text[160];
        std::snprintf(text, sizeof text, "%zu/%zu images, %.1f images/s, %.0f s left", done, total_, rate, left);
        std::string line = text;
        const int columns = StandardErrorColumns();
        // The last column stays free: writing into it wraps on some terminals.
        if (columns > 0 && line.size() >= static_cast<size_t>(columns)) line.resize(static_cast<size_t>(columns - 1));
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
    }
    void Finish() {
        if (shown_) std::fputs("\r\033[K", stderr);
    }

private:
    size_t total_;
    bool shown_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_{};
};

// --out names a folder; a file there, or a name that looks like an image,
// is a slip better caught than turned into a folder.
void CheckOutputFolder(const std::string& folder) {
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_directory(folder, error)) {
        FailUsage("--out: " + folder + " is a file; name the folder for the corrected images");
    }
    if (!fs::exists(folder, error) && IsImageName(folder)) {
        FailUsage("--out: " + folder + " names the folder for the corrected images, not an image");
    }
}

// The dark image of the sensor figures: named, or found beside the flats.
std::string DarkImagePath(const std::string& named, const std::string& flatFolder) {
    if (!named.empty()) return named;
    if (flatFolder.empty()) return "";
    const fs::path beside = fs::path(flatFolder) / kDarkImageName;
    std::error_code error;
    return fs::is_regular_file(beside, error) ? beside.string() : "";
}

// The images a calibration folder gives a run, as inputs no output may
// overwrite; a folder that cannot be listed fails later with its reason.
void AddCalibrationImages(const std::string& folder, std::vector<NamedFile>& inputs) {
    std::error_code error;
    if (folder.empty() || !fs::is_directory(folder, error)) return;
    for (const std::string& path : ListBitmaps(folder)) inputs.push_back({"the calibration image", path});
}

std::string ReportFooter(const Calibration& calibration, int32_t mode) {
    const vyrffc::Results& r = calibration.results();
    return std::string("run ") + RunName(r.run) + ", mode " + ModeName(mode) + ", " +
           std::to_string(r.significantDigits) + " significant digits, calibration " + calibration.source +
           "; drawn " + UtcNow() + " by cisffc, library " + vyrffc::LibraryVersion();
}

}  // namespace

vyrffc::Settings ToSettings(const CalibrationOptions& options) {
    vyrffc::Settings settings;
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
    } else if (text == "0" || text == "1" || text == "4" || text == "5" || text == "6") {
        mode = text[0] - '0';
    } else if (!text.empty()) {
        FailUsage("--mode: expected 0, 1, 4, 5, 6 or default, got \"" + text + "\"");
    }
    return mode;
}

TestFunction ParseTestFunction(const std::string& text, RunKind run, int32_t mode) {
    TestFunction test = run == RunKind::kPrevious ? TestFunction::kPrevious : TestFunction::kCurrent;
    if (text == "current") {
        test = TestFunction::kCurrent;
    } else if (text == "previous") {
        test = TestFunction::kPrevious;
    } else if (!text.empty()) {
        FailUsage("--test: expected current or previous, got \"" + text + "\"");
    }
    // Refused before any work: the calibration would give a constant image.
    const std::vector<int> served = vyrffc::ServedModes(run, test);
    if (std::find(served.begin(), served.end(), mode) == served.end()) {
        std::string modes;
        for (size_t i = 0; i < served.size(); ++i) {
            modes += (i == 0 ? "" : i + 1 == served.size() ? " and " : ", ") + ModeName(served[i]);
        }
        FailUsage("--mode " + ModeName(mode) + ": with the " +
                  (test == TestFunction::kPrevious ? "previous" : "current") + "-generation test it reads results the " +
                  RunName(run) + " calibration does not hold; with that test it serves modes " + modes);
    }
    return test;
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
    // The module is written beside the target and moved into place whole; the
    // folder it goes into must be there already, as for every other output.
    const fs::path parent = target.has_parent_path() ? target.parent_path() : fs::path(".");
    if (!fs::is_directory(parent, error)) FailRun("cannot write " + command.folder + ": the folder " +
                                                  parent.string() + " does not exist");
    const fs::path temporary =
        parent / ("." + target.filename().string() + ".tmp" + std::to_string(std::random_device{}()));
    // An interrupt waits until the module is in place or cleared away.
    WithoutInterruption([&] {
        fs::remove_all(temporary, error);
        try {
            cissim::WriteCalibrationFolder(temporary.string() + "/", options);
            cissim::WriteHeldOutImages(HeldOutFolder(temporary.string()), options, command.heldOut);
            cissim::WriteDarkImage(HeldOutFolder(temporary.string()), options);
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
    });
    return ListBitmaps(HeldOutFolder(target.string()), false);
}

int RunSimulate(const SimulateCommand& command) {
    const std::vector<std::string> heldOut = WriteSimulatedModule(command);
    const cissim::SimulatorOptions& options = command.simulator;
    std::cout << "Wrote " << ListBitmaps(command.folder).size() << " calibration images of " << options.width << "x"
              << options.height << " (" << options.chips << " chips, seed " << options.seed << ") to "
              << command.folder << "\n"
              << "and " << heldOut.size() << " held-out flat images and a dark image (" << kDarkImageName << ") to "
              << HeldOutFolder(command.folder) << "\n";
    return kExitSuccess;
}

int RunCalibrate(const CalibrateCommand& command) {
    std::vector<NamedFile> outputs;
    if (!command.savePath.empty()) outputs.push_back({"--save", command.savePath});
    if (!command.jsonPath.empty()) outputs.push_back({"--json", command.jsonPath});
    std::vector<NamedFile> inputs;
    AddCalibrationImages(command.folder, inputs);
    CheckOutputs(outputs, inputs);
    const Calibration calibration = CalibrateFromFolder(command.folder, ToSettings(command.calibration));
    PrintNotes(calibration);
    // With an output on standard output the summary goes out of its way.
    std::ostream& summary = command.jsonPath == "-" || command.savePath == "-" ? ToolErrors() : std::cout;
    PrintCalibrationSummary(summary, calibration);
    // Seen before a write that may wait (a FIFO without its reader yet).
    summary.flush();
    if (!command.savePath.empty()) {
        WriteFileAtomically(command.savePath, calibration.library.Serialize());
        if (command.savePath != "-") summary << "Saved        " << command.savePath << "\n";
    }
    if (!command.jsonPath.empty()) {
        WriteFileAtomically(command.jsonPath, CalibrationToJson(calibration).dump(1) + "\n");
        if (command.jsonPath != "-") summary << "Results      " << command.jsonPath << "\n";
    }
    FailIfIncomplete(calibration);
    return kExitSuccess;
}

int RunCorrect(const CorrectCommand& command) {
    std::vector<std::string> arguments = command.arguments;
    std::string folder;
    if (command.calibrationFile.empty()) {
        if (arguments.size() < 2) FailUsage("name the calibration folder and then the images (or use --calibration)");
        folder = arguments.front();
        arguments.erase(arguments.begin());
    }
    if (arguments.empty()) FailUsage("name the images to correct");
    CheckOutputFolder(command.outFolder);
    const std::vector<std::string> inputs = ExpandInputs(arguments);
    if (inputs.empty()) FailRun("no image to correct (a folder gives its .bmp, .png and .tif files)");
    // Every output is named after its input; two inputs of one name, or an
    // output on top of any input, are refused before anything is done.
    std::map<std::string, std::string> owners;
    std::vector<NamedFile> outputs;
    std::vector<NamedFile> read = {{"the calibration file", command.calibrationFile}};
    for (const std::string& input : inputs) {
        const std::string name = fs::path(input).filename().string();
        const auto [owner, fresh] = owners.emplace(name, input);
        if (!fresh) {
            FailUsage(owner->second + " and " + input + " would both be written to " +
                      (fs::path(command.outFolder) / name).string());
        }
        outputs.push_back({"--out", (fs::path(command.outFolder) / name).string(), true});
        read.push_back({"the image to correct", input});
    }
    AddCalibrationImages(folder, read);
    CheckOutputs(outputs, read);
    int32_t mode = 0;
    TestFunction test = TestFunction::kCurrent;
    const Calibration calibration =
        ObtainCalibration(command.calibrationFile, folder, command.calibration, [&](RunKind run) {
            mode = ParseMode(command.mode, run);
            test = ParseTestFunction(command.test, run, mode);
        });
    FailIfIncomplete(calibration);
    EnsureFolder(command.outFolder);

    const int32_t width = calibration.results().imageWidth;
    Progress progress(inputs.size(), !command.quiet);
    const auto start = std::chrono::steady_clock::now();
    size_t failed = 0;
    // With more than one job the next image is read while this one is
    // corrected and written: reading and writing take most of a batch's time.
    const bool readAhead = command.jobs != 1;
    ImageBuffers buffers[2];
    auto buffersOf = [&](size_t i) -> ImageBuffers& { return buffers[readAhead ? i % 2 : 0]; };
    auto readInto = [&](size_t i) { ReadCorrectable(inputs[i], width, buffersOf(i)); };
    std::future<void> next;
    if (readAhead) next = std::async(std::launch::async, readInto, size_t{0});
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string& input = inputs[i];
        ImageBuffers& current = buffersOf(i);
        std::future<void> reading = std::move(next);
        // The other buffers are free: the image before this one is written.
        if (readAhead && i + 1 < inputs.size()) next = std::async(std::launch::async, readInto, i + 1);
        try {
            if (readAhead) {
                reading.get();
            } else {
                readInto(i);
            }
            CorrectImage(calibration, test, mode, current.raw, current.corrected, input, command.jobs);
            // An interrupt during the write ends the tool once the image is
            // whole, counted among those done.
            WithoutInterruption([&] {
                WriteImageAtomically((fs::path(command.outFolder) / fs::path(input).filename()).string(),
                                     current.corrected, &current.encoded);
                NoteImagesDone(i + 1, inputs.size());
            });
        } catch (const ToolError& error) {
            if (!command.keepGoing) {
                progress.Finish();
                throw;
            }
            progress.Finish();
            ToolErrors() << "cisffc: " << error.what() << "\n";
            ++failed;
        }
        progress.Update(i + 1);
    }
    progress.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failed > 0) {
        ToolErrors() << "cisffc: " << failed << " of " << inputs.size()
                     << " image(s) could not be corrected; the other " << inputs.size() - failed << " are in "
                     << command.outFolder << "\n";
        return kExitFailed;
    }
    if (!command.quiet) {
        std::cout << "Corrected " << inputs.size() << " image(s) with the " << RunName(calibration.results().run)
                  << " calibration, mode " << ModeName(mode) << ", into " << command.outFolder << " ("
                  << Fixed(seconds > 0 ? inputs.size() / seconds : 0.0, 1) << " images/s)\n";
    }
    return kExitSuccess;
}

int RunReport(const ReportCommand& command) {
    if (fs::path(command.outPath).extension() != ".png") {
        FailUsage("--out: the picture is a PNG file, name it *.png");
    }
    if (command.folder.empty() == command.calibrationFile.empty()) {
        FailUsage("name either the calibration folder or a calibration file (--calibration)");
    }
    if (command.folder.empty() && command.heldOutFolder.empty()) {
        FailUsage("with --calibration, name the flat images to measure with --heldout");
    }
    // With the table on standard output the rest goes out of its way.
    std::ostream& text = command.csvPath == "-" ? ToolErrors() : std::cout;
    // The flat images measured: the named folder, else the held-out folder
    // beside the calibration images when it holds any, else those images.
    std::string source = command.heldOutFolder;
    if (source.empty() && !ListBitmaps(HeldOutFolder(command.folder), false).empty()) {
        source = HeldOutFolder(command.folder);
    }
    const std::string darkPath = DarkImagePath(command.darkImage, source);
    std::vector<NamedFile> outputs = {{"--out", command.outPath}};
    if (!command.csvPath.empty()) outputs.push_back({"--csv", command.csvPath});
    std::vector<NamedFile> inputs = {{"the calibration file", command.calibrationFile}, {"--dark", darkPath}};
    AddCalibrationImages(command.folder, inputs);
    if (!source.empty()) {
        for (const std::string& path : ListBitmaps(source)) inputs.push_back({"the flat image", path});
    }
    CheckOutputs(outputs, inputs);
    int32_t mode = 0;
    TestFunction test = TestFunction::kCurrent;
    const Calibration calibration =
        ObtainCalibration(command.calibrationFile, command.folder, command.calibration, [&](RunKind run) {
            mode = ParseMode(command.mode, run);
            test = ParseTestFunction(command.test, run, mode);
        });
    FailIfIncomplete(calibration);

    const vyrffc::Results& r = calibration.results();
    std::vector<FlatImage> flats;
    if (source.empty()) {
        // The files the calibration could not use are passed over, as it did.
        text << "No held-out images: measuring the calibration images themselves\n";
        for (const std::string& path : ListBitmaps(command.folder)) {
            try {
                FlatImage flat = std::move(LoadFlatImages({path}, r.imageWidth).front());
                if (flat.raw.rows == r.imageHeight) flats.push_back(std::move(flat));
            } catch (const ToolError&) {
            }
        }
    } else {
        if (!fs::is_directory(source)) FailRun("the folder " + source + " does not exist");
        const std::vector<std::string> paths = ListBitmaps(source, false);
        if (paths.empty()) FailRun("no flat image matches \"" + (fs::path(source) / "*.bmp").string() + "\"");
        text << "Held-out images: " << source << "\n";
        flats = LoadFlatImages(paths, r.imageWidth);
    }
    std::vector<FlatImage> dark;
    if (!darkPath.empty()) dark = LoadFlatImages({darkPath}, r.imageWidth);
    const CorrectionOutcome outcome =
        EvaluateCorrection(calibration, test, mode, flats, dark.empty() ? nullptr : &dark.front());
    const std::string darkName = dark.empty() ? "" : dark.front().name;
    PrintLevelTable(text, flats, outcome);
    PrintSensorFigures(text, flats, outcome, darkName);
    const cv::Mat figure = DrawReport("Flat-field calibration report: " + outcome.label + ", " + calibration.source,
                                      flats, {outcome}, 0, ReportFooter(calibration, mode));
    WritePictureAtomically(command.outPath, figure);
    text << "Picture: " << command.outPath << "\n";
    if (!command.csvPath.empty()) {
        WriteFileAtomically(command.csvPath, LevelTableCsv(flats, outcome, darkName));
        if (command.csvPath != "-") text << "Table: " << command.csvPath << "\n";
    }
    // The figures of the images that could be corrected are shown; the
    // command still fails, so that no script takes a partial report for a
    // whole one.
    if (!outcome.failure.empty()) FailRun("not every image could be corrected: " + outcome.failure);
    return kExitSuccess;
}

}  // namespace cisffc
