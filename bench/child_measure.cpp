#include "child_measure.h"

#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace

ChildMeasurement RunInChild(const std::function<ChildMeasurement()>& measure) {
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
        ChildMeasurement result;
        try {
            result = measure();
        } catch (...) {
            result.ok = false;
        }
        WriteAll(fds[1], &result, sizeof result);
        close(fds[1]);
        _exit(0);
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

int64_t StartMemoryMark() {
    // Free heap pages left resident would otherwise be reused without raising
    // the mark.
    malloc_trim(0);
    const int64_t start = StatusBytes("VmRSS");
    return ResetHighWaterMark() ? start : -1;
}

int64_t PeakAboveMark(int64_t start) {
    const int64_t peak = StatusBytes("VmHWM");
    return start < 0 || peak < 0 ? -1 : peak - start;
}

}  // namespace ffc::bench
