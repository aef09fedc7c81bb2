// What the tool asks of the system itself: ending cleanly on an interrupt,
// the terminal it writes to, the time, and telling whether two names are one
// file.
// Everything else reaches the system through the library.
#ifndef CISFFC_PLATFORM_H
#define CISFFC_PLATFORM_H

#include <cstddef>
#include <functional>
#include <ostream>
#include <string>

namespace cisffc {

// The exit status of a command stopped by SIGINT or SIGTERM.
constexpr int kExitInterrupted = 130;

// From here on SIGINT and SIGTERM end the tool at once with status 130 and a
// line saying how far a batch got, except while an output is being written:
// then the write finishes (or fails and cleans up) first, so that no
// temporary file is left and no output is half-written.
void EndOnInterrupt();

// What the line on interruption reports.
void NoteImagesDone(size_t done, size_t total);

// Runs `write` with interruptions held off until it returns or throws.
void WithoutInterruption(const std::function<void()>& write);

// Standard output takes bytes as they are (Windows would turn "\n" into
// "\r\n" in a calibration written to "-").
void BinaryStandardOutput();

// The time now, as "2026-01-31 14:05 UTC".
std::string UtcNow();

// The tool's own lines on stderr. Everyone else's std::cerr goes nowhere
// once KeepStandardErrorForTheTool has run: the image library writes some
// decoding failures there itself, which the tool reports in its own words.
std::ostream& ToolErrors();
void KeepStandardErrorForTheTool();

bool StandardErrorIsTerminal();
// Whether an operator can answer a prompt.
bool StandardInputIsTerminal();
// The width of the terminal on stderr in characters; 0 when unknown.
int StandardErrorColumns();

// A name for the file `path` stands for, the same for every spelling, link
// and hard link of one existing file; for a name that does not exist yet,
// its absolute form with the links of its folders resolved.
std::string FileIdentity(const std::string& path);

}  // namespace cisffc

#endif  // CISFFC_PLATFORM_H
