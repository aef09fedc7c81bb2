// The calibration file: one OpenCV FileStorage document (YAML) holding the
// settings and every result of one calibration. Scalars are plain text;
// per-column tables are matrices whose data OpenCV writes in base64, so that
// floats keep their bits and a 7,296-column file stays near 3 MB. The
// mapping tables are stored as per-column steps (entry 0, then each entry
// less the one before), which fit one byte for tables of real sensors.
#ifndef VYR_FFC_API_CALIBRATION_FILE_H
#define VYR_FFC_API_CALIBRATION_FILE_H

#include <string>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

// The format version this library writes, and the newest it reads.
constexpr int kCalibrationFileFormat = 1;

// A file ends with a comment line holding a 64-bit FNV-1a checksum of all
// that comes before it, so that damage the parser cannot see (a changed digit
// or base64 character) is refused too.
std::string AppendChecksum(std::string document);

std::string WriteCalibrationFile(const Results& results);

// Throws kFileCorrupt for a document that does not parse or whose fields are
// missing, malformed or of sizes that do not add up, kFileTooNew for a newer
// format version.
Results ReadCalibrationFile(const std::string& contents);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CALIBRATION_FILE_H
