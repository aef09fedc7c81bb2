#include "child_measure.h"

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace ffc::bench {

namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); -1 when missing.
int64_t StatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::stoll(line.substr(length + 1)) * 1024;
        }
    }
    return -1;
}

// Makes the high-water mark start again from the present resident size.
bool ResetHighWaterMark() {
    std::ofstream clearRefs("/proc/self/clear_refs");
    clearRefs << "5";
    clearRefs.flush();
    return static_cast<bool>(clearRefs);
}

bool WriteAll(int fd, const void* data, size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = write(fd, bytes, size);
        if (written <= 0) return false;
        bytes += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool ReadAll(int fd, void* data, size_t size) {
    char* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = read(fd, bytes, size);
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

[[noreturn]] void RunChild(int fd, const std::function<void()>& prepare, const std::function<bool()>& work) {
    ChildMeasurement result;
    try {
        prepare();
        // Free heap pages the parent left resident would otherwise be reused
        // without raising the mark.
        malloc_trim(0);
        const int64_t before = StatusBytes("VmRSS");
        const bool reset = ResetHighWaterMark();
        const auto start = std::chrono::steady_clock::now();
        const bool worked = work();
        const auto end = std::chrono::steady_clock::now();
        const int64_t peak = StatusBytes("VmHWM");
        result.ok = worked && reset && before >= 0 && peak >= 0;
        result.seconds = std::chrono::duration<double>(end - start).count();
        result.peakBytes = peak - before;
    } catch (...) {
        result.ok = false;
    }
    WriteAll(fd, &result, sizeof result);
    close(fd);
    _exit(0);
}

}  // namespace

ChildMeasurement MeasureInChild(const std::function<void()>& prepare, const std::function<bool()>& work) {
    int fds[2];
    if (pipe(fds) != 0) return {};
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return {};
    }
    if (pid == 0) {
        close(fds[0]);
        RunChild(fds[1], prepare, work);
    }
    close(fds[1]);
    ChildMeasurement result;
    if (!ReadAll(fds[0], &result, sizeof result)) result = {};
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result.ok = false;
    return result;
}

}  // namespace ffc::bench
