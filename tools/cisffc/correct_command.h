// cisffc correct: a batch of images corrected with a saved calibration or one
// made from a folder, each written under its own name into the output folder.
#ifndef CISFFC_CORRECT_COMMAND_H
#define CISFFC_CORRECT_COMMAND_H

#include <string>
#include <vector>

#include "calibration_options.h"

namespace cisffc {

struct CorrectCommand {
    // Without a calibration file the first argument is the calibration
    // folder; the rest are images and folders of images.
    std::vector<std::string> arguments;
    std::string calibrationFile;
    std::string outFolder;
    CalibrationOptions calibration;
    std::string mode;  // empty: the run's default
    std::string test;  // empty: the run's own test function
    // The camera the calibration file must name; empty: not compared.
    std::string requireModel;
    std::string requireSerial;
    int jobs = 0;      // 0: one thread per core
    bool keepGoing = false;
    bool quiet = false;
};

void AddCorrectOptions(CLI::App& command, CorrectCommand& options);
int RunCorrect(const CorrectCommand& command);

}  // namespace cisffc

#endif  // CISFFC_CORRECT_COMMAND_H
