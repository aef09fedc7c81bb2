// How a narrow file name is read as a name of the system.
//
// On POSIX a name is its bytes, whatever the encoding. On Windows the twelve
// functions take names as a host's own narrow file calls do (the process code
// page), while the C++ interface, its tool and the Python module take UTF-8;
// both are turned into the wide names the system's wide calls take.
#ifndef VYR_FFC_PLATFORM_FILE_NAME_H
#define VYR_FFC_PLATFORM_FILE_NAME_H

#include <string>

namespace ffc {

enum class NameEncoding {
    kHost,  // the process code page on Windows
    kUtf8,
};

#if defined(_WIN32)
// The wide name; empty when `name` is not valid in `encoding`.
std::wstring WideName(const std::string& name, NameEncoding encoding);
#endif

}  // namespace ffc

#endif  // VYR_FFC_PLATFORM_FILE_NAME_H
