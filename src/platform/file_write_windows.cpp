// The Windows branch; file_write.cpp is the POSIX one. Names are UTF-8.
#if defined(_WIN32)
#include "platform/file_write.h"

#include "platform/file_name.h"

#include <algorithm>
#include <random>

#include <windows.h>

namespace ffc {

namespace {

// Words that do not depend on the language Windows is installed in.
std::string Reason(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return "permission denied";
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE: return "the file is open in another program";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: return "no space left on the disk";
        case ERROR_WRITE_PROTECT: return "the disk is write-protected";
        case ERROR_FILENAME_EXCED_RANGE: return "the name is too long";
        case ERROR_INVALID_NAME: return "the name is not valid";
        default: return "Windows error " + std::to_string(error);
    }
}

std::wstring FolderOf(const std::wstring& path) {
    const size_t slash = path.find_last_of(L"/\\");
    if (slash == std::wstring::npos) return L"";
    return path.substr(0, slash + 1);
}

// ".NAME.XXXXXXXXXXXX.tmp" beside the target, NAME cut short so that the
// whole stays within the 255 characters a name may have.
std::wstring TemporaryName(const std::wstring& path, std::mt19937_64& random) {
    static const wchar_t kDigits[] = L"0123456789abcdefghijklmnopqrstuvwxyz";
    const std::wstring folder = FolderOf(path);
    std::wstring name = path.substr(folder.size());
    std::wstring suffix = L".";
    for (int i = 0; i < 12; ++i) suffix += kDigits[random() % 36];
    suffix += L".tmp";
    const size_t room = 255 - 1 - suffix.size();
    if (name.size() > room) name.resize(room);
    return folder + L"." + name + suffix;
}

HANDLE CreateTemporary(const std::wstring& path, std::wstring& temporary) {
    std::mt19937_64 random(std::random_device{}());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = TemporaryName(path, random);
        const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return handle;
    }
    ::SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE handle, std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(handle, bytes.data() + done, chunk, &written, nullptr) || written == 0) return false;
        done += written;
    }
    return true;
}

// Written, flushed to disk, then moved over the target in one step that is
// itself written through; any failure removes the temporary file.
std::string Replace(const std::wstring& target, std::string_view bytes) {
    std::wstring temporary;
    const HANDLE handle = CreateTemporary(target, temporary);
    if (handle == INVALID_HANDLE_VALUE) return Reason(::GetLastError());
    bool ok = WriteAll(handle, bytes) && ::FlushFileBuffers(handle);
    DWORD error = ok ? ERROR_SUCCESS : ::GetLastError();
    if (!::CloseHandle(handle) && ok) {
        ok = false;
        error = ::GetLastError();
    }
    if (ok && !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        error = ::GetLastError();
    }
    if (!ok) {
        ::DeleteFileW(temporary.c_str());
        return Reason(error);
    }
    return "";
}

std::string CheckFolder(const std::wstring& path, const std::string& name) {
    const std::wstring folder = FolderOf(path);
    const DWORD attributes = ::GetFileAttributesW(folder.empty() ? L"." : folder.c_str());
    const std::string shown = name.substr(0, name.find_last_of("/\\"));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return "the folder " + shown + " does not exist";
        }
        return Reason(error);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return shown + " is not a folder";
    return "";
}

}  // namespace

std::string WriteWholeFile(const std::string& path, std::string_view bytes) {
    if (path.empty()) return "no file name";
    const std::wstring wide = WideName(path, NameEncoding::kUtf8);
    if (wide.empty()) return "the name is not valid UTF-8";
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) return Reason(error);
        const std::string reason = CheckFolder(wide, path);
        return reason.empty() ? Replace(wide, bytes) : reason;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
    // Replacing would drop the attribute a user set to keep the file as it is.
    if (attributes & FILE_ATTRIBUTE_READONLY) return "the file is read-only";
    return Replace(wide, bytes);
}

}  // namespace ffc

#endif  // _WIN32
