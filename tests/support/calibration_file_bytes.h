// Calibration files edited by a test: the checksum put right again after an
// edit, computed as the file format's documentation gives it, independently of
// the library's own writer.
#ifndef FFC_TESTS_SUPPORT_CALIBRATION_FILE_BYTES_H
#define FFC_TESTS_SUPPORT_CALIBRATION_FILE_BYTES_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace ffc::testing {

// FNV-1a 64 over the file's little-endian 8-byte words, the last padded with
// zeros, with the 16 checksum digits after the header's only "checksum":"
// read as '0'. A file without that key, or with it twice, comes back as it
// was.
inline std::string Resigned(std::string file) {
    const std::string key = "\"checksum\":\"";
    const size_t found = file.find(key);
    if (found == std::string::npos || file.find(key, found + 1) != std::string::npos) return file;
    const size_t at = found + key.size();
    if (file.size() < at + 16) return file;
    file.replace(at, 16, 16, '0');
    uint64_t hash = 0xcbf29ce484222325ull;
    for (size_t i = 0; i < file.size(); i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, file.data() + i, file.size() - i < 8 ? file.size() - i : 8);
        hash = (hash ^ word) * 0x100000001b3ull;
    }
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return file.replace(at, 16, digits);
}

}  // namespace ffc::testing

#endif  // FFC_TESTS_SUPPORT_CALIBRATION_FILE_BYTES_H
