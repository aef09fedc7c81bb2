// Loads a DLL as a camera host would find it, without resolving its imports
// (there is no OpenCV to load), and resolves each name given by
// GetProcAddress. Exits 0 when every name resolves.
//
//   ffc_load_exports DLL NAME...
#include <cwchar>

#include <windows.h>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fwprintf(stderr, L"usage: ffc_load_exports DLL NAME...\n");
        return 2;
    }
    const HMODULE library = ::LoadLibraryExW(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (library == nullptr) {
        std::fwprintf(stderr, L"cannot load %ls: error %lu\n", argv[1], ::GetLastError());
        return 1;
    }
    int missing = 0;
    for (int i = 2; i < argc; ++i) {
        char name[256];
        if (::WideCharToMultiByte(CP_ACP, 0, argv[i], -1, name, sizeof name, nullptr, nullptr) == 0 ||
            ::GetProcAddress(library, name) == nullptr) {
            std::fwprintf(stderr, L"%ls does not resolve\n", argv[i]);
            ++missing;
        }
    }
    std::wprintf(L"%d of %d exports resolved\n", argc - 2 - missing, argc - 2);
    ::FreeLibrary(library);
    return missing == 0 ? 0 : 1;
}
