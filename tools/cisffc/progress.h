// The progress line of a batch on a terminal.
#ifndef CISFFC_PROGRESS_H
#define CISFFC_PROGRESS_H

#include <chrono>
#include <cstddef>

namespace cisffc {

// One line on standard error when it is a terminal, rewritten in place. It is
// cut to the terminal's width: a line that wraps is rewritten from its last
// row only, leaving the rows above it behind on every update. The count of
// images done is noted for an interrupt whether or not the line is shown.
class Progress {
public:
    Progress(size_t total, bool shown);
    // At most ten times a second, and once at the end.
    void Update(size_t done);
    // Clears the line, before a message or the summary.
    void Finish();

private:
    size_t total_;
    bool shown_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace cisffc

#endif  // CISFFC_PROGRESS_H
