// How the tool ends a command that cannot go on: one line for stderr and the
// exit status that goes with it.
#ifndef CISFFC_TOOL_ERROR_H
#define CISFFC_TOOL_ERROR_H

#include <stdexcept>
#include <string>

namespace cisffc {

enum ExitStatus : int {
    kExitSuccess = 0,
    kExitFailed = 1,    // a calibration or correction failed, or an output could not be written
    kExitUsage = 2,     // the command line itself is wrong
    // report: the corrected images miss an acceptance limit (--max-prnu,
    // --max-nu); check: the camera misses them with its calibration, which
    // calls for a new one
    kExitRejected = 3,
};

class ToolError : public std::runtime_error {
public:
    ToolError(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// A message as one line of stderr: line breaks inside it (an image or
// option library's text may hold them) become spaces, trailing ones go.
inline std::string OneLine(const std::string& message) {
    std::string line;
    for (char c : message) {
        const bool lineBreak = c == '\n' || c == '\r';
        if (!lineBreak) {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    return line;
}

[[noreturn]] inline void FailUsage(const std::string& message) { throw ToolError(kExitUsage, message); }
[[noreturn]] inline void FailRun(const std::string& message) { throw ToolError(kExitFailed, message); }

}  // namespace cisffc

#endif  // CISFFC_TOOL_ERROR_H
