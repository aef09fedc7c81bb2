// How the tool ends a command that cannot go on: one line for stderr and the
// exit status that goes with it.
#ifndef CISFFC_TOOL_ERROR_H
#define CISFFC_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace cisffc {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailed = 1,  // a calibration or correction failed, or an output could not be written
    kExitUsage = 2,   // the command line itself is wrong
    kExitRecalibrate = 3,  // check: the camera no longer meets the limits with its calibration
};

class ToolError : public std::runtime_error {
public:
    ToolError(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

[[noreturn]] inline void FailUsage(const std::string& message) { throw ToolError(kExitUsage, message); }
[[noreturn]] inline void FailRun(const std::string& message) { throw ToolError(kExitFailed, message); }

}  // namespace cisffc

#endif  // CISFFC_TOOL_ERROR_H
