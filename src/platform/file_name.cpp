#include "platform/file_name.h"

#if defined(_WIN32)
#include <climits>

#include <windows.h>

namespace ffc {

std::wstring WideName(const std::string& name, NameEncoding encoding) {
    if (name.empty() || name.size() > static_cast<size_t>(INT_MAX)) return {};
    const UINT page = encoding == NameEncoding::kUtf8 ? CP_UTF8 : CP_ACP;
    // Invalid UTF-8 is refused rather than replaced, so that no other file
    // is reached than the one named.
    const DWORD flags = encoding == NameEncoding::kUtf8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = static_cast<int>(name.size());
    const int wide = ::MultiByteToWideChar(page, flags, name.data(), length, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring result(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(page, flags, name.data(), length, result.data(), wide);
    return result;
}

}  // namespace ffc
#endif
