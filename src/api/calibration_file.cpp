#include "api/calibration_file.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string_view>

#include <nlohmann/json.hpp>

#include "api/calibration_state.h"
#include "api/camera_identity.h"
#include "api/settings.h"
#include "platform/file_read.h"

namespace vyrffc {

namespace {

using Json = nlohmann::json;

const char* const kFormatName = "VyrCISFlatfieldCorrection calibration";
// From this version on the checksum covers the whole file; version 1 covered
// the metadata entries and the tables' bytes, not where the header put them.
constexpr int kWholeFileChecksum = 2;
// From this version on the header names the camera: cameraModel and
// cameraSerial (empty for none) and one entry per note, its key behind this
// prefix.
constexpr int kCameraIdentity = 3;
constexpr std::string_view kNotePrefix = "note.";
// From this version on the file may keep the residual non-uniformity the
// calibration left on its own set, as the table setResiduals (level, residual).
constexpr int kSetResiduals = 4;
// The metadata and a dozen table descriptors take about 2 KB: a header far
// longer is no calibration file, and is refused before it is read.
constexpr uint64_t kMaxHeaderLength = 1 << 20;
// Above the last raw value a column saw, its table goes on by the mean of its
// last steps, and no step exceeds 255 levels: 255 such steps from a level stay
// inside this bound. Entries above 255 do occur in real calibrations.
constexpr int64_t kMaxTableEntry = 255 * 257;
constexpr int32_t kNoBreakpoint = 256;
constexpr int32_t kTopGray = 255;
// The checksum's value in the header, as written: exactly once.
constexpr std::string_view kChecksumKey = "\"checksum\":\"";
constexpr size_t kChecksumDigits = 16;

[[noreturn]] void Corrupt(const std::string& what) {
    throw Error(ErrorReason::kFileCorrupt, "the calibration file is damaged or not a calibration file: " + what);
}

// FNV-1a over little-endian 64-bit words (the last one padded with zeros):
// eight times fewer steps than over bytes, so checking a file costs far less
// than reading it.
uint64_t Fnv1a(const void* data, size_t size, uint64_t hash = 14695981039346656037ull) {
    const unsigned char* bytes = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < size; i += 8) {
        uint64_t word = 0;
        std::memcpy(&word, bytes + i, std::min<size_t>(8, size - i));
        hash = (hash ^ word) * 1099511628211ull;
    }
    return hash;
}

std::string HashText(uint64_t hash) {
    char text[kChecksumDigits + 1];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// The checksum of format version 1: the metadata but the checksum itself, in
// key order, then the tables.
std::string MetadataAndTablesChecksum(const std::map<std::string, std::string>& metadata, std::string_view body) {
    uint64_t hash = Fnv1a(nullptr, 0);
    for (const auto& [key, value] : metadata) {
        if (key == "checksum") continue;
        const std::string entry = key + "=" + value + "\n";
        hash = Fnv1a(entry.data(), entry.size(), hash);
    }
    return HashText(Fnv1a(body.data(), body.size(), hash));
}

// Where the checksum's digits sit in the header as written, or npos when the
// key does not occur exactly once.
size_t ChecksumDigitsAt(std::string_view header) {
    const size_t key = header.find(kChecksumKey);
    if (key == std::string_view::npos || header.find(kChecksumKey, key + 1) != std::string_view::npos) {
        return std::string_view::npos;
    }
    return key + kChecksumKey.size();
}

// The whole file, with the checksum's digits read as '0' characters: the
// length, the header (with its padding) and the tables all count.
std::string WholeFileChecksum(std::string_view prefixAndHeader, size_t digitsAt, std::string_view body) {
    std::string blanked(prefixAndHeader);
    blanked.replace(digitsAt, kChecksumDigits, kChecksumDigits, '0');
    return HashText(Fnv1a(body.data(), body.size(), Fnv1a(blanked.data(), blanked.size())));
}

std::string FloatText(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

struct TableType {
    const char* name;
    size_t size;
};
const TableType kI8{"I8", 1}, kI16{"I16", 2}, kI32{"I32", 4}, kF32{"F32", 4};
const TableType* const kTableTypes[] = {&kI8, &kI16, &kI32, &kF32};

// The tables of a file being written: header entries and the data behind them.
class TableWriter {
public:
    template <typename T>
    void Add(const char* name, const TableType& type, std::vector<size_t> shape, const std::vector<T>& values) {
        const size_t begin = data_.size();
        data_.append(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
        header_[name] = {{"dtype", type.name}, {"shape", shape}, {"data_offsets", {begin, data_.size()}}};
    }
    Json& header() { return header_; }
    const std::string& data() const { return data_; }

private:
    Json header_ = Json::object();
    std::string data_;
};

template <typename T>
std::vector<T> Flat(const std::vector<std::vector<T>>& rows, size_t cols) {
    std::vector<T> values;
    values.reserve(rows.size() * cols);
    for (const std::vector<T>& row : rows) {
        for (size_t c = 0; c < cols; ++c) values.push_back(c < row.size() ? row[c] : T{});
    }
    return values;
}

std::vector<float> FlatPieces(const std::vector<std::vector<std::vector<float>>>& table, size_t order) {
    std::vector<float> values;
    for (const std::vector<std::vector<float>>& pieces : table) {
        for (const std::vector<float>& piece : pieces) values.insert(values.end(), piece.begin(), piece.begin() + order + 1);
    }
    return values;
}

// Steps of the tables in the narrowest type that holds them all; tables whose
// steps do not fit 16 bits are kept as they are.
void AddTables(TableWriter& writer, const std::vector<std::vector<int32_t>>& luts) {
    std::vector<int64_t> steps;
    int64_t widest = 0;
    for (const std::vector<int32_t>& lut : luts) {
        for (size_t k = 0; k < lut.size(); ++k) {
            steps.push_back(int64_t{lut[k]} - (k ? int64_t{lut[k - 1]} : 0));
            widest = std::max(widest, std::abs(steps.back()));
        }
    }
    const std::vector<size_t> shape = {luts.size(), 256};
    if (widest > std::numeric_limits<int16_t>::max()) {
        writer.Add("columnLuts", kI32, shape, Flat(luts, 256));
    } else if (widest > std::numeric_limits<int8_t>::max()) {
        writer.Add("columnLutSteps", kI16, shape, std::vector<int16_t>(steps.begin(), steps.end()));
    } else {
        writer.Add("columnLutSteps", kI8, shape, std::vector<int8_t>(steps.begin(), steps.end()));
    }
}

// ---- Reading: the header first, checked against the file's size, then the
// tables, then their values.

// One table as the header places it.
struct TableEntry {
    const TableType* type = nullptr;
    std::vector<uint64_t> shape;
    uint64_t count = 0;  // entries
    uint64_t begin = 0;  // byte range in the body
    uint64_t end = 0;
};

// What the header says, checked against itself and the file's size.
struct Layout {
    uint64_t headerEnd = 0;  // where the body begins
    int version = 0;
    std::map<std::string, std::string> metadata;
    std::map<std::string, TableEntry> tables;
};

uint64_t CheckedProduct(uint64_t a, uint64_t b) {
    if (a != 0 && b > std::numeric_limits<uint64_t>::max() / a) Corrupt("a table's size overflows");
    return a * b;
}

// The header's length from the first eight bytes, before any more is read.
uint64_t HeaderLength(std::string_view prefix, uint64_t fileSize) {
    if (fileSize < 8 || prefix.size() < 8) Corrupt("it is too short");
    uint64_t length = 0;
    for (int b = 7; b >= 0; --b) length = (length << 8) | static_cast<unsigned char>(prefix[b]);
    if (length > fileSize - 8) Corrupt("its header runs past its end");
    if (length == 0 || length > kMaxHeaderLength || length % 8 != 0) Corrupt("its header length is not one it writes");
    return length;
}

Json ParsedHeader(std::string_view text) {
    Json header;
    try {
        header = Json::parse(text.begin(), text.end());
    } catch (const Json::exception&) {
        Corrupt("its header does not parse");
    }
    if (!header.is_object()) Corrupt("its header is not an object");
    return header;
}

std::map<std::string, std::string> MetadataOf(const Json& header) {
    const auto found = header.find("__metadata__");
    if (found == header.end() || !found->is_object()) Corrupt("its header holds no metadata");
    std::map<std::string, std::string> metadata;
    for (const auto& [key, value] : found->items()) {
        if (!value.is_string()) Corrupt("the metadata entry " + key + " is not text");
        metadata[key] = value.get<std::string>();
    }
    return metadata;
}

const std::string& Text(const std::map<std::string, std::string>& metadata, const char* key) {
    const auto found = metadata.find(key);
    if (found == metadata.end()) Corrupt(std::string(key) + " is missing");
    return found->second;
}

long long Whole(const std::map<std::string, std::string>& metadata, const char* key, long long low, long long high) {
    const std::string& text = Text(metadata, key);
    char* end = nullptr;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
        Corrupt(std::string(key) + " is not a number from " + std::to_string(low) + " to " + std::to_string(high));
    }
    return value;
}

// A finite float; out-of-range text reads as infinite and is refused too.
float Real(const std::map<std::string, std::string>& metadata, const char* key) {
    const std::string& text = Text(metadata, key);
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(value)) Corrupt(std::string(key) + " is not a finite number");
    return value;
}

int FormatVersion(const std::map<std::string, std::string>& metadata) {
    if (Text(metadata, "format") != kFormatName) Corrupt("it does not say it is a calibration file");
    const long long version = Whole(metadata, "formatVersion", 1, std::numeric_limits<int32_t>::max());
    if (version > kCalibrationFileFormat) {
        throw Error(ErrorReason::kFileTooNew, "the calibration file has format version " + std::to_string(version) +
                                                  "; this library (" + LibraryVersion() + ") reads versions up to " +
                                                  std::to_string(kCalibrationFileFormat));
    }
    return static_cast<int>(version);
}

uint64_t Unsigned(const Json& value, const std::string& what) {
    if (!value.is_number_unsigned()) Corrupt(what + " is not a whole number");
    return value.get<uint64_t>();
}

TableEntry EntryOf(const std::string& name, const Json& descriptor) {
    const std::string what = "the table " + name;
    if (!descriptor.is_object()) Corrupt(what + " is not described as a table");
    const auto dtype = descriptor.find("dtype");
    const auto shape = descriptor.find("shape");
    const auto offsets = descriptor.find("data_offsets");
    if (dtype == descriptor.end() || shape == descriptor.end() || offsets == descriptor.end() || !dtype->is_string() ||
        !shape->is_array() || !offsets->is_array() || offsets->size() != 2) {
        Corrupt(what + " is not described as a table");
    }
    TableEntry entry;
    for (const TableType* type : kTableTypes) {
        if (dtype->get<std::string>() == type->name) entry.type = type;
    }
    if (entry.type == nullptr) Corrupt(what + " has an unknown type");
    entry.count = 1;
    for (const Json& extent : *shape) {
        entry.shape.push_back(Unsigned(extent, "an extent of " + what));
        entry.count = CheckedProduct(entry.count, entry.shape.back());
    }
    entry.begin = Unsigned((*offsets)[0], "an offset of " + what);
    entry.end = Unsigned((*offsets)[1], "an offset of " + what);
    if (entry.begin > entry.end || entry.end - entry.begin != CheckedProduct(entry.count, entry.type->size)) {
        Corrupt("the sizes of " + what + " do not add up");
    }
    return entry;
}

// The tables fill the body one after the other, from its start to the file's
// end: no byte is shared, skipped or left over.
void RequireContiguous(const std::map<std::string, TableEntry>& tables, uint64_t bodySize) {
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    for (const auto& [name, entry] : tables) ranges.emplace_back(entry.begin, entry.end);
    std::sort(ranges.begin(), ranges.end());
    uint64_t next = 0;
    for (const auto& [begin, end] : ranges) {
        if (begin != next) Corrupt("its tables overlap or leave gaps");
        next = end;
    }
    if (next != bodySize) Corrupt("its tables do not end where the file ends");
}

// Checks everything the header says against itself and against the file's
// size; needs the eight-byte length and the header only.
Layout ReadLayout(std::string_view prefixAndHeader, uint64_t fileSize) {
    Layout layout;
    layout.headerEnd = 8 + HeaderLength(prefixAndHeader, fileSize);
    if (prefixAndHeader.size() < layout.headerEnd) Corrupt("its header runs past its end");
    const Json header = ParsedHeader(prefixAndHeader.substr(8, layout.headerEnd - 8));
    layout.metadata = MetadataOf(header);
    layout.version = FormatVersion(layout.metadata);
    for (const auto& [name, descriptor] : header.items()) {
        if (name != "__metadata__") layout.tables[name] = EntryOf(name, descriptor);
    }
    RequireContiguous(layout.tables, fileSize - layout.headerEnd);
    return layout;
}

void VerifyChecksum(const Layout& layout, std::string_view file) {
    const std::string_view body = file.substr(layout.headerEnd);
    const std::string& stored = Text(layout.metadata, "checksum");
    std::string computed;
    if (layout.version >= kWholeFileChecksum) {
        const std::string_view prefixAndHeader = file.substr(0, layout.headerEnd);
        const size_t digitsAt = ChecksumDigitsAt(prefixAndHeader);
        if (digitsAt == std::string_view::npos || prefixAndHeader.substr(digitsAt, kChecksumDigits) != stored) {
            Corrupt("its checksum is not where the header should hold it");
        }
        computed = WholeFileChecksum(prefixAndHeader, digitsAt, body);
    } else {
        computed = MetadataAndTablesChecksum(layout.metadata, body);
    }
    if (stored != computed) Corrupt("its contents do not match their checksum");
}

// The tables of a checked layout, each taken once, as the run that wrote the
// file stores it.
class TableReader {
public:
    TableReader(const Layout& layout, std::string_view body) : layout_(layout), body_(body) {}

    bool Has(const char* name) const { return layout_.tables.count(name) != 0; }
    const TableType* TypeOf(const char* name) const { return Has(name) ? layout_.tables.at(name).type : nullptr; }

    // The entry of `name`, of `type`; `shape` empty takes any one-dimensional
    // shape.
    const TableEntry& Entry(const char* name, const TableType& type, const std::vector<uint64_t>& shape) {
        const auto found = layout_.tables.find(name);
        if (found == layout_.tables.end()) Corrupt(std::string("the table ") + name + " is missing");
        const TableEntry& entry = found->second;
        if (entry.type != &type || (shape.empty() ? entry.shape.size() != 1 : entry.shape != shape)) {
            Corrupt(std::string("the table ") + name + " has another type or shape than the image's");
        }
        taken_.insert(name);
        return entry;
    }

    template <typename T>
    std::vector<T> Values(const char* name, const TableType& type, const std::vector<uint64_t>& shape = {}) {
        static_assert(std::is_trivially_copyable<T>::value, "tables hold plain numbers");
        const TableEntry& entry = Entry(name, type, shape);
        std::vector<T> values(static_cast<size_t>(entry.count));
        if (!values.empty()) std::memcpy(values.data(), body_.data() + entry.begin, values.size() * sizeof(T));
        return values;
    }

    // Every table of the file has been taken: no table is left unexplained.
    void RequireAllTaken() const {
        for (const auto& [name, entry] : layout_.tables) {
            if (taken_.count(name) == 0) Corrupt("it holds a table " + name + " the run does not write");
        }
    }

private:
    const Layout& layout_;
    std::string_view body_;
    std::set<std::string> taken_;
};

template <typename T>
std::vector<std::vector<T>> Rows(const std::vector<T>& flat, size_t cols) {
    std::vector<std::vector<T>> rows(cols ? flat.size() / cols : 0);
    for (size_t r = 0; r < rows.size(); ++r) rows[r].assign(flat.begin() + r * cols, flat.begin() + (r + 1) * cols);
    return rows;
}

std::vector<std::vector<std::vector<float>>> Pieces(const std::vector<float>& flat, size_t order) {
    std::vector<std::vector<std::vector<float>>> table;
    for (const std::vector<float>& row : Rows(flat, 2 * (order + 1))) {
        table.push_back({std::vector<float>(row.begin(), row.begin() + order + 1),
                         std::vector<float>(row.begin() + order + 1, row.end())});
    }
    return table;
}

void RequireFinite(const std::vector<float>& values, const char* what) {
    for (float value : values) {
        if (!std::isfinite(value)) Corrupt(std::string(what) + " hold a value that is not a finite number");
    }
}

void RequireColumns(const std::vector<int32_t>& columns, int32_t width, const char* what) {
    for (int32_t c : columns) {
        if (c < 0 || c >= width) {
            Corrupt(std::string(what) + " hold column " + std::to_string(c) + ", outside the image");
        }
    }
}

CalibrationRun KnownRun(const std::string& name) {
    if (const std::optional<CalibrationRun> run = RunNamed(name)) return *run;
    Corrupt("the run \"" + name + "\" is unknown");
}

void ReadScalars(const std::map<std::string, std::string>& metadata, Results& r) {
    r.run = KnownRun(Text(metadata, "run"));
    r.significantDigits = static_cast<uint32_t>(Whole(metadata, "significantDigits", 0, 4294967295ll));
    r.imageHeight = static_cast<int32_t>(Whole(metadata, "imageHeight", 1, std::numeric_limits<int32_t>::max()));
    r.imageWidth = static_cast<int32_t>(Whole(metadata, "imageWidth", 1, std::numeric_limits<int32_t>::max()));
    r.fitLowBound = Real(metadata, "fitLowBound");
    r.fitHighBound = Real(metadata, "fitHighBound");
    r.quadGain = Real(metadata, "quadGain");
    r.quadOffset = Real(metadata, "quadOffset");
    r.cubicGain = Real(metadata, "cubicGain");
    r.cubicOffset = Real(metadata, "cubicOffset");
    r.realQuadGain = Real(metadata, "realQuadGain");
    r.realCubicGain = Real(metadata, "realCubicGain");
    r.rangeGain = Real(metadata, "rangeGain");
}

CameraIdentity ReadCameraIdentity(const std::map<std::string, std::string>& metadata) {
    CameraIdentity camera;
    camera.model = Text(metadata, "cameraModel");
    camera.serial = Text(metadata, "cameraSerial");
    for (const auto& [key, value] : metadata) {
        if (key.compare(0, kNotePrefix.size(), kNotePrefix) == 0) {
            camera.notes.emplace_back(key.substr(kNotePrefix.size()), value);
        }
    }
    const std::string problem = CameraIdentityProblem(camera);
    if (!problem.empty()) Corrupt(problem);
    return camera;
}

void ReadColumnLists(TableReader& tables, Results& r) {
    r.referenceColumns = tables.Values<int32_t>("referenceColumns", kI32);
    if (r.referenceColumns.empty()) Corrupt("it lists no reference column");
    RequireColumns(r.referenceColumns, r.imageWidth, "the reference columns");
    const std::vector<int32_t> sizes = tables.Values<int32_t>("columnGroupSizes", kI32);
    const std::vector<int32_t> columns = tables.Values<int32_t>("columnGroupColumns", kI32);
    RequireColumns(columns, r.imageWidth, "the column groups");
    size_t next = 0;
    for (int32_t size : sizes) {
        if (size < 0 || columns.size() - next < static_cast<size_t>(size)) Corrupt("the column groups do not add up");
        r.columnGroups.emplace_back(columns.begin() + next, columns.begin() + next + size);
        next += static_cast<size_t>(size);
    }
    if (next != columns.size()) Corrupt("the column groups do not add up");
}

void ReadCoefficients(TableReader& tables, uint64_t width, Results& r) {
    const std::vector<float> quad = tables.Values<float>("quadCoeffs", kF32, {width, 3});
    const std::vector<float> cubic = tables.Values<float>("cubicCoeffs", kF32, {width, 4});
    RequireFinite(quad, "the quadratic coefficients");
    RequireFinite(cubic, "the cubic coefficients");
    r.quadCoeffs = Rows(quad, 3);
    r.cubicCoeffs = Rows(cubic, 4);
}

// Entry 0 of each table, then the steps up to each next entry: 256 steps of
// 16 bits at most cannot leave the range of int32.
template <typename Step>
std::vector<std::vector<int32_t>> Accumulated(const std::vector<Step>& steps, size_t width) {
    std::vector<std::vector<int32_t>> luts(width, std::vector<int32_t>(256));
    for (size_t c = 0; c < width; ++c) {
        int32_t entry = 0;
        for (size_t k = 0; k < 256; ++k) luts[c][k] = entry += steps[c * 256 + k];
    }
    return luts;
}

std::vector<std::vector<int32_t>> ReadMappingTables(TableReader& tables, uint64_t width) {
    const std::vector<uint64_t> shape = {width, 256};
    if (tables.Has("columnLuts") == tables.Has("columnLutSteps")) {
        Corrupt("it holds not exactly one set of mapping tables");
    }
    std::vector<std::vector<int32_t>> luts;
    if (tables.Has("columnLuts")) {
        luts = Rows(tables.Values<int32_t>("columnLuts", kI32, shape), 256);
    } else if (tables.TypeOf("columnLutSteps") == &kI16) {
        luts = Accumulated(tables.Values<int16_t>("columnLutSteps", kI16, shape), width);
    } else {
        luts = Accumulated(tables.Values<int8_t>("columnLutSteps", kI8, shape), width);
    }
    for (const std::vector<int32_t>& lut : luts) {
        for (int32_t entry : lut) {
            if (entry < -kMaxTableEntry || entry > kMaxTableEntry) {
                Corrupt("a mapping table leaves the range of its entries");
            }
        }
    }
    return luts;
}

// Flags 0 or -1; a flagged column's lowest and highest level at raw 0 inside
// the gray range and in order, an unflagged column's range zeros.
void ReadDarkResponse(TableReader& tables, uint64_t width, Results& r) {
    r.columnFlags = tables.Values<int32_t>("columnFlags", kI32, {width});
    const std::vector<int32_t> ranges = tables.Values<int32_t>("columnDarkRanges", kI32, {width, 2});
    r.columnDarkRanges.resize(width);
    for (size_t c = 0; c < width; ++c) {
        const int32_t lowest = ranges[2 * c], highest = ranges[2 * c + 1];
        if (r.columnFlags[c] == 0) {
            if (lowest != 0 || highest != 0) Corrupt("an unflagged column has a dark range");
        } else if (r.columnFlags[c] == -1) {
            if (lowest < 0 || lowest > highest || highest > kTopGray) Corrupt("a dark range is not one of gray levels");
            r.columnDarkRanges[c] = {lowest, highest};
        } else {
            Corrupt("a column flag is neither 0 nor -1");
        }
    }
}

std::vector<std::vector<std::vector<float>>> ReadPieces(TableReader& tables, const char* name, uint64_t width,
                                                        size_t order) {
    const std::vector<float> flat = tables.Values<float>(name, kF32, {width, 2, order + 1});
    RequireFinite(flat, "the two-piece coefficients");
    return Pieces(flat, order);
}

// A breakpoint is a gray level, or 256 for none.
std::vector<int32_t> ReadBreakpoints(TableReader& tables, const char* name, uint64_t width) {
    std::vector<int32_t> breaks = tables.Values<int32_t>(name, kI32, {width});
    for (int32_t gray : breaks) {
        if (gray < 0 || gray > kNoBreakpoint) Corrupt("a breakpoint is not a gray level");
    }
    return breaks;
}

// Levels strictly ascending inside 0..255, residuals finite and not negative.
std::vector<LevelResidual> ReadSetResiduals(TableReader& tables, const Layout& layout) {
    if (layout.version < kSetResiduals || !tables.Has("setResiduals")) return {};
    const std::vector<uint64_t>& shape = layout.tables.at("setResiduals").shape;
    const std::vector<float> values = tables.Values<float>("setResiduals", kF32, {shape.empty() ? 0 : shape[0], 2});
    std::vector<LevelResidual> kept;
    for (size_t i = 0; i + 1 < values.size(); i += 2) {
        const LevelResidual residual{values[i], values[i + 1]};
        if (!(residual.level >= 0.0f && residual.level <= kTopGray) ||
            (!kept.empty() && !(residual.level > kept.back().level))) {
            Corrupt("the levels of the set's residuals are not ascending gray levels");
        }
        if (!(residual.nonUniformity >= 0.0f) || !std::isfinite(residual.nonUniformity)) {
            Corrupt("a residual of the set is not a finite fraction");
        }
        kept.push_back(residual);
    }
    return kept;
}

Results ReadResults(const Layout& layout, std::string_view body) {
    Results r;
    ReadScalars(layout.metadata, r);
    if (layout.version >= kCameraIdentity) r.camera = ReadCameraIdentity(layout.metadata);
    const uint64_t width = static_cast<uint64_t>(r.imageWidth);
    TableReader tables(layout, body);
    ReadCoefficients(tables, width, r);
    ReadColumnLists(tables, r);
    r.setResiduals = ReadSetResiduals(tables, layout);
    if (r.run != CalibrationRun::kSegmented) {
        r.columnLuts = ReadMappingTables(tables, width);
        ReadDarkResponse(tables, width, r);
    } else {
        r.segQuadCoeffs = ReadPieces(tables, "segQuadCoeffs", width, 2);
        r.segCubicCoeffs = ReadPieces(tables, "segCubicCoeffs", width, 3);
        r.segQuadBreaks = ReadBreakpoints(tables, "segQuadBreaks", width);
        r.segCubicBreaks = ReadBreakpoints(tables, "segCubicBreaks", width);
    }
    tables.RequireAllTaken();
    return r;
}

}  // namespace

std::string WriteCalibrationFile(const Results& r) {
    const size_t w = static_cast<size_t>(r.imageWidth);
    TableWriter tables;
    tables.Add("referenceColumns", kI32, {r.referenceColumns.size()}, r.referenceColumns);
    std::vector<int32_t> sizes, members;
    for (const std::vector<int32_t>& group : r.columnGroups) {
        sizes.push_back(static_cast<int32_t>(group.size()));
        members.insert(members.end(), group.begin(), group.end());
    }
    tables.Add("columnGroupSizes", kI32, {sizes.size()}, sizes);
    tables.Add("columnGroupColumns", kI32, {members.size()}, members);
    tables.Add("quadCoeffs", kF32, {w, 3}, Flat(r.quadCoeffs, 3));
    tables.Add("cubicCoeffs", kF32, {w, 4}, Flat(r.cubicCoeffs, 4));
    if (r.run != CalibrationRun::kSegmented) {
        AddTables(tables, r.columnLuts);
        tables.Add("columnFlags", kI32, {w}, r.columnFlags);
        tables.Add("columnDarkRanges", kI32, {w, 2}, Flat(r.columnDarkRanges, 2));
    } else {
        tables.Add("segQuadCoeffs", kF32, {w, 2, 3}, FlatPieces(r.segQuadCoeffs, 2));
        tables.Add("segQuadBreaks", kI32, {w}, r.segQuadBreaks);
        tables.Add("segCubicCoeffs", kF32, {w, 2, 4}, FlatPieces(r.segCubicCoeffs, 3));
        tables.Add("segCubicBreaks", kI32, {w}, r.segCubicBreaks);
    }
    if (!r.setResiduals.empty()) {
        std::vector<float> residuals;
        for (const LevelResidual& kept : r.setResiduals) {
            residuals.insert(residuals.end(), {kept.level, kept.nonUniformity});
        }
        tables.Add("setResiduals", kF32, {r.setResiduals.size(), 2}, residuals);
    }
    // The checksum's digits are written as zeros, then the whole file is
    // hashed and the digits put in their place.
    std::map<std::string, std::string> metadata{
        {"format", kFormatName},
        {"formatVersion", std::to_string(kCalibrationFileFormat)},
        {"libraryVersion", LibraryVersion()},
        {"run", RunName(r.run)},
        {"significantDigits", std::to_string(r.significantDigits)},
        {"imageHeight", std::to_string(r.imageHeight)},
        {"imageWidth", std::to_string(r.imageWidth)},
        {"fitLowBound", FloatText(r.fitLowBound)},
        {"fitHighBound", FloatText(r.fitHighBound)},
        {"quadGain", FloatText(r.quadGain)},
        {"quadOffset", FloatText(r.quadOffset)},
        {"cubicGain", FloatText(r.cubicGain)},
        {"cubicOffset", FloatText(r.cubicOffset)},
        {"realQuadGain", FloatText(r.realQuadGain)},
        {"realCubicGain", FloatText(r.realCubicGain)},
        {"rangeGain", FloatText(r.rangeGain)},
        {"checksum", std::string(kChecksumDigits, '0')},
        {"cameraModel", r.camera.model},
        {"cameraSerial", r.camera.serial},
    };
    for (const auto& [key, value] : r.camera.notes) metadata[std::string(kNotePrefix) + key] = value;
    tables.header()["__metadata__"] = metadata;
    std::string header = tables.header().dump();
    header.append((8 - header.size() % 8) % 8, ' ');
    std::string file(8, '\0');
    const uint64_t length = header.size();
    for (int b = 0; b < 8; ++b) file[b] = static_cast<char>((length >> (8 * b)) & 0xFF);
    file += header;
    const size_t digitsAt = ChecksumDigitsAt(file);
    const std::string checksum = WholeFileChecksum(file, digitsAt, tables.data());
    file.replace(digitsAt, kChecksumDigits, checksum);
    return file + tables.data();
}

Results ReadCalibrationFile(std::string_view contents) {
    const Layout layout = ReadLayout(contents, contents.size());
    VerifyChecksum(layout, contents);
    return ReadResults(layout, contents.substr(layout.headerEnd));
}

std::string Calibration::Serialize() const { return WriteCalibrationFile(results()); }

Calibration Calibration::Deserialize(const std::string& contents) {
    return MakeCalibration(ReadCalibrationFile(contents));
}

void Calibration::Save(const std::string& path) const { WriteFile(path, Serialize()); }

Calibration Calibration::Load(const std::string& path) {
    ffc::InputFile file;
    const ffc::OpenStatus status = file.Open(path, ffc::NameEncoding::kUtf8);
    if (status != ffc::OpenStatus::kOpened) {
        throw Error(ErrorReason::kFileUnreadable,
                    "the calibration file " + path + " " + ffc::DescribeOpenStatus(status));
    }
    const auto unreadable = [&] {
        return Error(ErrorReason::kFileUnreadable, "cannot read the calibration file " + path + ": " +
                                                       (errno ? std::strerror(errno) : "it changed while read"));
    };
    // The length and the header first: a file whose header does not describe
    // exactly its size is refused before the rest is read.
    std::string contents(static_cast<size_t>(std::min<uint64_t>(file.Size(), 8)), '\0');
    errno = 0;
    if (!file.ReadAt(0, contents.data(), contents.size())) throw unreadable();
    contents.resize(static_cast<size_t>(8 + HeaderLength(contents, file.Size())));
    if (!file.ReadAt(8, contents.data() + 8, contents.size() - 8)) throw unreadable();
    ReadLayout(contents, file.Size());
    if (!file.ReadAll(contents)) throw unreadable();
    return MakeCalibration(ReadCalibrationFile(contents));
}

}  // namespace vyrffc
