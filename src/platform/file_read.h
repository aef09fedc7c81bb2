// Reading a file without trusting it: only regular files are opened (a FIFO
// or device named like an image would block the read or never end it), and
// the size is known before any byte is read, so a caller can refuse a file
// too large for what it expects before reading it whole.
//
// This is the only place that opens a file for reading; everything that reads
// a calibration image, a calibration file or an image to correct comes
// through here.
#ifndef VYR_FFC_PLATFORM_FILE_READ_H
#define VYR_FFC_PLATFORM_FILE_READ_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/file_name.h"

namespace ffc {

enum class OpenStatus {
    kOpened,
    kMissing,     // nothing of that name
    kNotRegular,  // a folder, FIFO, device or socket
    kUnreadable,  // there, but cannot be opened or examined (permissions, I/O)
};

// The words that finish "PATH ...": "does not exist", "is not a regular file",
// "cannot be opened".
const char* DescribeOpenStatus(OpenStatus status);

// A regular file opened for reading, closed when this goes. Move-only.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(InputFile&& other) noexcept;
    InputFile& operator=(InputFile&& other) noexcept;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Never blocks: a special file is refused without waiting for a writer.
    // `encoding` says how Windows reads the name (see file_name.h).
    OpenStatus Open(const std::string& path, NameEncoding encoding = NameEncoding::kHost);

    bool IsOpen() const { return handle_ != kClosed; }
    // The size when opened.
    uint64_t Size() const { return size_; }

    // Reads exactly `count` bytes from `offset`; false when the file ends
    // first or the read fails.
    bool ReadAt(uint64_t offset, void* into, size_t count) const;

    // The whole file into `bytes` (resized to Size()); false when it cannot
    // be read whole. Callers check Size() against what they accept first.
    bool ReadAll(std::vector<uint8_t>& bytes) const;
    bool ReadAll(std::string& bytes) const;

    // A name that opens this same file again, for a library that takes only
    // names: the open file itself where the system offers one (Linux), else
    // `path`. A name swapped for a FIFO after Open cannot reach the library.
    std::string NameForReopening(const std::string& path) const;

private:
    void Close();
#if defined(_WIN32)
    using Handle = void*;  // a HANDLE
    static constexpr Handle kClosed = nullptr;
#else
    using Handle = int;
    static constexpr Handle kClosed = -1;
#endif
    Handle handle_ = kClosed;
    uint64_t size_ = 0;
};

}  // namespace ffc

#endif  // VYR_FFC_PLATFORM_FILE_READ_H
