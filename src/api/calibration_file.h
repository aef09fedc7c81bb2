// The calibration file: the layout of the safetensors format, so that numpy
// or the safetensors package read it without our code. Eight bytes (the
// header's length, little-endian, a multiple of 8), a JSON header padded with
// spaces, then the tables as raw little-endian arrays, one after the other,
// ending at the file's end:
//  - "__metadata__": the format name and version, the library version, the
//    run, the digit count, the image size, the fit range and the gains, as
//    text (floats with 9 significant digits, which give their bits back), and
//    a 64-bit FNV-1a checksum of the whole file, taken with its own 16 digits
//    read as '0' characters (format version 1: of the metadata and the
//    tables only); from format version 3 on, the camera's model and serial
//    and its notes, each note as "note.KEY";
//  - per table its type ("I8", "I16", "I32", "F32"), shape and byte range;
//    from format version 4 on, the residual non-uniformity the calibration
//    left on its own set may be kept as the table setResiduals (level,
//    residual), which older readers would not know.
// The mapping tables are stored as per-column steps (entry 0, then each entry
// less the one before), which fit one byte for tables of real sensors; a
// 7,296-column file is about 2.2 MB and loads in a few milliseconds.
#ifndef VYR_FFC_API_CALIBRATION_FILE_H
#define VYR_FFC_API_CALIBRATION_FILE_H

#include <string>
#include <string_view>

#include "VyrCISFlatfieldCorrection.hpp"

namespace vyrffc {

// The format version this library writes, and the newest it reads; it reads
// every older one too.
constexpr int kCalibrationFileFormat = 4;

std::string WriteCalibrationFile(const Results& results);

// Throws kFileCorrupt for contents that do not parse, whose header does not
// place its tables exactly in the bytes that follow it, that fail their
// checksum, or whose fields are missing, malformed, of sizes that do not add
// up or of values no calibration holds; kFileTooNew for a newer format
// version. Nothing else, std::bad_alloc aside.
Results ReadCalibrationFile(std::string_view contents);

}  // namespace vyrffc

#endif  // VYR_FFC_API_CALIBRATION_FILE_H
