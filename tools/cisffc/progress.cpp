#include "progress.h"

#include <cstdio>
#include <string>

#include "platform.h"

namespace cisffc {

Progress::Progress(size_t total, bool shown) : total_(total), shown_(shown && StandardErrorIsTerminal()) {
    NoteImagesDone(0, total);
}

void Progress::Update(size_t done) {
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

void Progress::Finish() {
    if (shown_) std::fputs("\r\033[K", stderr);
}

}  // namespace cisffc
