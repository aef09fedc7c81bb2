#include "correct_command.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <map>
#include <system_error>
#include <thread>

#include <CLI/CLI.hpp>

#include "calibration_facts.h"
#include "images.h"
#include "output_file.h"
#include "platform.h"
#include "progress.h"
#include "report.h"
#include "tool_error.h"
#include "uniformity.h"

namespace cisffc {

namespace fs = std::filesystem;

namespace {

// The calibration folder, when there is no calibration file, and the images
// to correct, folders expanded.
struct BatchInputs {
    std::string folder;
    std::vector<std::string> images;
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

BatchInputs SplitArguments(const CorrectCommand& command) {
    BatchInputs inputs;
    std::vector<std::string> arguments = command.arguments;
    if (command.calibrationFile.empty()) {
        if (arguments.size() < 2) FailUsage("name the calibration folder and then the images (or use --calibration)");
        inputs.folder = arguments.front();
        arguments.erase(arguments.begin());
    }
    if (arguments.empty()) FailUsage("name the images to correct");
    CheckOutputFolder(command.outFolder);
    inputs.images = ExpandInputs(arguments);
    if (inputs.images.empty()) FailRun("no image to correct (a folder gives its .bmp, .png and .tif files)");
    return inputs;
}

std::string OutputPath(const CorrectCommand& command, const std::string& input) {
    return (fs::path(command.outFolder) / fs::path(input).filename()).string();
}

// Every output is named after its input; two inputs of one name, or an
// output on top of any input, are refused before anything is done.
void CheckOutputNames(const CorrectCommand& command, const BatchInputs& inputs) {
    std::map<std::string, std::string> owners;
    std::vector<NamedFile> outputs;
    std::vector<NamedFile> read = {{"the calibration file", command.calibrationFile}};
    for (const std::string& input : inputs.images) {
        const auto [owner, fresh] = owners.emplace(fs::path(input).filename().string(), input);
        if (!fresh) {
            FailUsage(owner->second + " and " + input + " would both be written to " + OutputPath(command, input));
        }
        outputs.push_back({"--out", OutputPath(command, input), true});
        read.push_back({"the image to correct", input});
    }
    AddCalibrationImages(inputs.folder, read);
    CheckOutputs(outputs, read);
}

// The read of image `i` on a thread of its own. A system that cannot start
// one more thread leaves the future empty: the loop reads that image itself.
std::future<void> ReadInBackground(const std::function<void(size_t)>& read, size_t i) {
    try {
        return std::async(std::launch::async, read, i);
    } catch (const std::system_error&) {
        return {};
    }
}

void CorrectAndWrite(const CorrectCommand& command, const AppliedCalibration& correction, const std::string& input,
                     ImageBuffers& buffers, size_t done, size_t total) {
    CorrectImage(correction.calibration, correction.test, correction.mode, buffers.raw, buffers.corrected, input,
                 command.jobs);
    // An interrupt during the write ends the tool once the image is whole,
    // counted among those done.
    WithoutInterruption([&] {
        WriteImageAtomically(OutputPath(command, input), buffers.corrected, &buffers.encoded);
        NoteImagesDone(done, total);
    });
}

// Reads, corrects and writes every image in turn; returns how many failed
// (only with --keep-going, else the first failure ends the batch).
size_t CorrectBatch(const CorrectCommand& command, const AppliedCalibration& correction,
                    const std::vector<std::string>& inputs) {
    const int32_t width = correction.calibration.results().imageWidth;
    Progress progress(inputs.size(), !command.quiet);
    size_t failed = 0;
    // With more than one job the next image is read while this one is
    // corrected and written: reading and writing take most of a batch's time.
    const bool readAhead = command.jobs != 1;
    ImageBuffers buffers[2];
    auto buffersOf = [&](size_t i) -> ImageBuffers& { return buffers[readAhead ? i % 2 : 0]; };
    const std::function<void(size_t)> readInto = [&](size_t i) { ReadCorrectable(inputs[i], width, buffersOf(i)); };
    std::future<void> next;
    if (readAhead) next = ReadInBackground(readInto, 0);
    for (size_t i = 0; i < inputs.size(); ++i) {
        std::future<void> reading = std::move(next);
        // The other buffers are free: the image before this one is written.
        if (readAhead && i + 1 < inputs.size()) next = ReadInBackground(readInto, i + 1);
        try {
            if (reading.valid()) {
                reading.get();
            } else {
                readInto(i);
            }
            CorrectAndWrite(command, correction, inputs[i], buffersOf(i), i + 1, inputs.size());
        } catch (const ToolError& error) {
            progress.Finish();
            if (!command.keepGoing) throw;
            ToolErrors() << "cisffc: " << error.what() << "\n";
            ++failed;
        }
        progress.Update(i + 1);
    }
    progress.Finish();
    return failed;
}

}  // namespace

void AddCorrectOptions(CLI::App& command, CorrectCommand& options) {
    command.add_option("INPUT", options.arguments,
                       "DIR without --calibration, then images and folders (their .bmp, .png and .tif files)")
        ->required();
    command.add_option("--out", options.outFolder, "Folder for the corrected images (same names, same formats)")
        ->required();
    AddCalibrationFile(command, options.calibrationFile, AddCalibrationOptions(command, options.calibration));
    AddModeOptions(command, options.mode, options.test);
    CLI::Option* serial = command.add_option("--require-serial", options.requireSerial,
                                             "Refuse a calibration file of a camera with another serial, or of no "
                                             "named camera, before any image is read");
    CLI::Option* model = command.add_option("--require-model", options.requireModel,
                                            "Refuse a calibration file of another camera model, likewise");
    for (CLI::Option* required : {serial, model}) {
        // Only a calibration file names a camera.
        required->needs(command.get_option("--calibration"));
    }
    options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    command.add_option("--jobs", options.jobs, "Threads that correct each image")
        ->capture_default_str()->check(CLI::Range(1, 1024));
    command.add_flag("--keep-going", options.keepGoing,
                     "Go past an image that cannot be corrected; exit status 1 at the end");
    command.add_flag("--quiet", options.quiet, "No progress line and no summary");
}

int RunCorrect(const CorrectCommand& command) {
    const BatchInputs inputs = SplitArguments(command);
    CheckOutputNames(command, inputs);
    const AppliedCalibration applied =
        ObtainCalibration(command.calibrationFile, inputs.folder, command.calibration, command.mode, command.test);
    const Calibration& calibration = applied.calibration;
    const int32_t mode = applied.mode;
    RequireCameraOf(calibration, command.requireModel, command.requireSerial);
    FailIfIncomplete(calibration);
    EnsureFolder(command.outFolder);

    const auto start = std::chrono::steady_clock::now();
    const size_t failed = CorrectBatch(command, applied, inputs.images);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const size_t total = inputs.images.size();
    if (failed > 0) {
        ToolErrors() << "cisffc: " << failed << " of " << total << " image(s) could not be corrected; the other "
                     << total - failed << " are in " << command.outFolder << "\n";
        return kExitFailed;
    }
    if (!command.quiet) {
        std::cout << "Corrected " << total << " image(s) with the " << RunName(calibration.results().run)
                  << " calibration, mode " << mode << " (" << vyrffc::ModeName(mode) << "), into " << command.outFolder << " ("
                  << Fixed(seconds > 0 ? total / seconds : 0.0, 1) << " images/s)\n";
    }
    return kExitSuccess;
}

}  // namespace cisffc
