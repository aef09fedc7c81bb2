#include "platform.h"

#include <atomic>
#include <cstdint>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <iostream>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <stdlib.h>
#include <windows.h>
#else
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace cisffc {

namespace {

// Idle, an output being written, or the tool ending: one word the handler
// and the writing thread both change, so that an interrupt either ends the
// tool before a write begins or waits for it to end.
enum State : int { kIdle, kWriting, kEnding };
std::atomic<int> g_state{kIdle};
std::atomic<bool> g_interrupted{false};
std::atomic<size_t> g_done{0};
std::atomic<size_t> g_total{0};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<size_t>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

// Only what is safe in a signal handler: digits by hand, write, _exit.
size_t AppendNumber(char* text, size_t at, size_t number) {
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number > 0);
    while (count > 0) text[at++] = digits[--count];
    return at;
}

size_t AppendText(char* text, size_t at, const char* words) {
    while (*words != '\0') text[at++] = *words++;
    return at;
}

[[noreturn]] void EndInterrupted() {
    char text[160];
    size_t length = AppendText(text, 0, "\ncisffc: interrupted");
    const size_t total = g_total.load();
    if (total > 0) {
        length = AppendText(text, length, " after ");
        length = AppendNumber(text, length, g_done.load());
        length = AppendText(text, length, " of ");
        length = AppendNumber(text, length, total);
        length = AppendText(text, length, " image(s)");
    }
    length = AppendText(text, length, "\n");
#if defined(_WIN32)
    (void)::_write(2, text, static_cast<unsigned>(length));
#else
    ssize_t ignored = ::write(STDERR_FILENO, text, length);
    (void)ignored;
#endif
    ::_exit(kExitInterrupted);
}

// Any thread may take the signal; whichever does ends the tool or leaves the
// word for the writer.
void OnInterrupt(int) {
    int idle = kIdle;
    if (g_state.compare_exchange_strong(idle, kEnding)) EndInterrupted();
    g_interrupted.store(true);
}

[[noreturn]] void WaitForTheEnd() {
#if defined(_WIN32)
    for (;;) ::Sleep(INFINITE);
#else
    for (;;) ::pause();
#endif
}

void EndWriting() {
    g_state.store(kIdle);
    if (!g_interrupted.load()) return;
    int idle = kIdle;
    if (g_state.compare_exchange_strong(idle, kEnding)) EndInterrupted();
    WaitForTheEnd();
}

}  // namespace

#if defined(_WIN32)
// Windows runs the handler on a thread of its own for Ctrl+C and Ctrl+Break;
// there is nothing to restart or to inherit as ignored.
void EndOnInterrupt() {
    for (const int signal : {SIGINT, SIGTERM, SIGBREAK}) std::signal(signal, OnInterrupt);
}

void BinaryStandardOutput() { (void)::_setmode(::_fileno(stdout), _O_BINARY); }
#else
void BinaryStandardOutput() {}

void EndOnInterrupt() {
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write held up by a FIFO without a reader gives up on
    // the interrupt instead of waiting on.
    action.sa_flags = 0;
    for (const int signal : {SIGINT, SIGTERM}) {
        // A signal ignored on entry stays ignored: a shell starts background
        // commands so that the terminal's interrupt does not reach them.
        struct sigaction old {};
        if (::sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(signal, &action, nullptr);
    }
}
#endif

void NoteImagesDone(size_t done, size_t total) {
    g_total.store(total);
    g_done.store(done);
}

void WithoutInterruption(const std::function<void()>& write) {
    // A write within a write is already held off.
    thread_local bool writing = false;
    if (writing) {
        write();
        return;
    }
    struct Mark {
        Mark() { writing = true; }
        ~Mark() { writing = false; }
    } mark;
    int idle = kIdle;
    while (!g_state.compare_exchange_weak(idle, kWriting)) {
        if (idle == kEnding) WaitForTheEnd();
        idle = kIdle;
    }
    try {
        write();
    } catch (...) {
        EndWriting();
        throw;
    }
    EndWriting();
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#if defined(_WIN32)
    ::gmtime_s(&utc, &now);
#else
    ::gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M UTC", &utc);
    return text;
}

std::ostream& ToolErrors() {
    static std::ostream* const stream = [] {
        auto* made = new std::ostream(std::cerr.rdbuf());
        made->setf(std::ios::unitbuf);
        return made;
    }();
    return *stream;
}

void KeepStandardErrorForTheTool() {
    ToolErrors();
    std::cerr.rdbuf(nullptr);
}

#if defined(_WIN32)
bool StandardErrorIsTerminal() { return ::_isatty(2) != 0; }
bool StandardInputIsTerminal() { return ::_isatty(0) != 0; }

int StandardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The volume and the file's index on it, as POSIX has device and inode.
static std::string ExistingFileIdentity(const std::filesystem::path& path) {
    const HANDLE handle = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return "";
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = ::GetFileInformationByHandle(handle, &info);
    ::CloseHandle(handle);
    if (!known) return "";
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return "file " + std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}
#else
bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }
bool StandardInputIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

int StandardErrorColumns() {
    struct winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

static std::string ExistingFileIdentity(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return "";
    return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}
#endif

std::string FileIdentity(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path name = fs::u8path(path);
    const std::string identity = ExistingFileIdentity(name);
    if (!identity.empty()) return identity;
    std::error_code error;
    const fs::path absolute = fs::weakly_canonical(fs::absolute(name, error), error);
    return "name " + absolute.lexically_normal().u8string();
}

}  // namespace cisffc
