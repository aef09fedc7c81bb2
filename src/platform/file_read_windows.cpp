// The Windows branch of the reader; file_read.cpp holds the POSIX one.
#if defined(_WIN32)
#include "platform/file_read.h"

#include <utility>

#include <windows.h>

namespace ffc {

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, kClosed)), size_(std::exchange(other.size_, 0)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = std::exchange(other.handle_, kClosed);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void InputFile::Close() {
    if (handle_ != kClosed) ::CloseHandle(handle_);
    handle_ = kClosed;
    size_ = 0;
}

OpenStatus InputFile::Open(const std::string& path, NameEncoding encoding) {
    Close();
    const std::wstring name = WideName(path, encoding);
    if (name.empty()) return OpenStatus::kMissing;
    // Others may go on reading, writing or renaming the file while it is
    // read, as they could under POSIX. A folder opens only with backup
    // semantics, so it fails here as a name that is not a file.
    const HANDLE handle = ::CreateFileW(name.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME) {
            return OpenStatus::kMissing;
        }
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return OpenStatus::kNotRegular;
        }
        return OpenStatus::kUnreadable;
    }
    // Pipes and devices (NUL, COM1) have no size to read up to.
    LARGE_INTEGER size{};
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        return OpenStatus::kNotRegular;
    }
    if (!::GetFileSizeEx(handle, &size) || size.QuadPart < 0) {
        ::CloseHandle(handle);
        return OpenStatus::kUnreadable;
    }
    handle_ = handle;
    size_ = static_cast<uint64_t>(size.QuadPart);
    return OpenStatus::kOpened;
}

bool InputFile::ReadAt(uint64_t offset, void* into, size_t count) const {
    if (handle_ == kClosed) return false;
    auto* bytes = static_cast<char*>(into);
    while (count > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        const DWORD chunk = static_cast<DWORD>(count < (1u << 30) ? count : (1u << 30));
        DWORD read = 0;
        if (!::ReadFile(handle_, bytes, chunk, &read, &at) || read == 0) return false;
        bytes += read;
        count -= read;
        offset += read;
    }
    return true;
}

// Windows has no name for an open file; the handle keeps the file from being
// deleted, not from being replaced.
std::string InputFile::NameForReopening(const std::string& path) const { return path; }

}  // namespace ffc
#endif  // _WIN32
