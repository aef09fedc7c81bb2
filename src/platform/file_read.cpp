#include "platform/file_read.h"

// The POSIX branch and what both share; file_read_windows.cpp is the Windows one.

#include <cerrno>
#include <string>
#include <utility>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ffc {

const char* DescribeOpenStatus(OpenStatus status) {
    switch (status) {
        case OpenStatus::kOpened: return "is open";
        case OpenStatus::kMissing: return "does not exist";
        case OpenStatus::kNotRegular: return "is not a regular file";
        case OpenStatus::kUnreadable: break;
    }
    return "cannot be opened";
}

#if !defined(_WIN32)
InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), size_(std::exchange(other.size_, 0)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void InputFile::Close() {
    if (handle_ >= 0) ::close(handle_);
    handle_ = -1;
    size_ = 0;
}

OpenStatus InputFile::Open(const std::string& path, NameEncoding) {
    Close();
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
    // writer. The type is then taken from the opened file itself, so a name
    // swapped between a check and the open cannot slip through.
    const int handle = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0) {
        return errno == ENOENT || errno == ENOTDIR ? OpenStatus::kMissing
               : errno == ENXIO                    ? OpenStatus::kNotRegular
                                                   : OpenStatus::kUnreadable;
    }
    struct stat info {};
    if (::fstat(handle, &info) != 0) {
        ::close(handle);
        return OpenStatus::kUnreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(handle);
        return OpenStatus::kNotRegular;
    }
    const int flags = ::fcntl(handle, F_GETFL);
    if (flags < 0 || ::fcntl(handle, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        ::close(handle);
        return OpenStatus::kUnreadable;
    }
    handle_ = handle;
    size_ = static_cast<uint64_t>(info.st_size);
    return OpenStatus::kOpened;
}

bool InputFile::ReadAt(uint64_t offset, void* into, size_t count) const {
    if (handle_ < 0) return false;
    auto* bytes = static_cast<char*>(into);
    while (count > 0) {
        const ssize_t n = ::pread(handle_, bytes, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        count -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    return true;
}

std::string InputFile::NameForReopening(const std::string& path) const {
#ifdef __linux__
    if (handle_ >= 0) {
        const std::string self = "/proc/self/fd/" + std::to_string(handle_);
        if (::access(self.c_str(), R_OK) == 0) return self;
    }
#endif
    return path;
}

#endif  // !_WIN32

bool InputFile::ReadAll(std::vector<uint8_t>& bytes) const {
    bytes.resize(static_cast<size_t>(size_));
    return ReadAt(0, bytes.data(), bytes.size());
}

bool InputFile::ReadAll(std::string& bytes) const {
    bytes.resize(static_cast<size_t>(size_));
    return ReadAt(0, bytes.data(), bytes.size());
}

}  // namespace ffc
