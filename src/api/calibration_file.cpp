#include "api/calibration_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>

#include <nlohmann/json.hpp>

#include "api/calibration_state.h"
#include "api/settings.h"

namespace vyrffc {

namespace {

using Json = nlohmann::json;

const char* const kFormatName = "VyrCISFlatfieldCorrection calibration";

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

// Of the metadata but the checksum itself, in key order, then of the tables.
std::string Checksum(const std::map<std::string, std::string>& metadata, const char* data, size_t size) {
    uint64_t hash = Fnv1a(nullptr, 0);
    for (const auto& [key, value] : metadata) {
        if (key == "checksum") continue;
        const std::string entry = key + "=" + value + "\n";
        hash = Fnv1a(entry.data(), entry.size(), hash);
    }
    hash = Fnv1a(data, size, hash);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
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

// The tables of a file being read, each checked against its type and shape
// before any is decoded.
class TableReader {
public:
    TableReader(const Json& header, const char* data, size_t size) : header_(header), data_(data), size_(size) {}

    // The table's bytes, or null when it is absent and `optional`.
    const char* Find(const char* name, const TableType& type, const std::vector<size_t>& shape, bool optional) const {
        const auto entry = header_.find(name);
        if (entry == header_.end()) {
            if (optional) return nullptr;
            Corrupt(std::string("the table ") + name + " is missing");
        }
        try {
            const std::vector<size_t> offsets = entry->at("data_offsets").get<std::vector<size_t>>();
            size_t count = 1;
            for (size_t extent : shape) count *= extent;
            if (entry->at("dtype").get<std::string>() != type.name ||
                entry->at("shape").get<std::vector<size_t>>() != shape || offsets.size() != 2 ||
                offsets[0] > offsets[1] || offsets[1] > size_ || offsets[1] - offsets[0] != count * type.size) {
                Corrupt(std::string("the sizes of the table ") + name + " do not add up");
            }
            return data_ + offsets[0];
        } catch (const Json::exception&) {
            Corrupt(std::string("the table ") + name + " is not described as a table");
        }
    }

    template <typename T>
    std::vector<T> Values(const char* name, const TableType& type, const std::vector<size_t>& shape,
                          bool optional = false) const {
        const char* bytes = Find(name, type, shape, optional);
        size_t count = 1;
        for (size_t extent : shape) count *= extent;
        std::vector<T> values(bytes ? count : 0);
        if (bytes) std::memcpy(values.data(), bytes, count * sizeof(T));
        return values;
    }

    // The length of a one-dimensional table.
    size_t Length(const char* name) const {
        const auto entry = header_.find(name);
        if (entry == header_.end()) Corrupt(std::string("the table ") + name + " is missing");
        try {
            const std::vector<size_t> shape = entry->at("shape").get<std::vector<size_t>>();
            if (shape.size() != 1) Corrupt(std::string("the table ") + name + " is not a list");
            return shape[0];
        } catch (const Json::exception&) {
            Corrupt(std::string("the table ") + name + " is not described as a table");
        }
    }

private:
    const Json& header_;
    const char* data_;
    size_t size_;
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

template <typename Step>
std::vector<std::vector<int32_t>> Accumulated(const std::vector<Step>& steps, size_t width) {
    std::vector<std::vector<int32_t>> luts(width, std::vector<int32_t>(256));
    for (size_t c = 0; c < width; ++c) {
        int64_t entry = 0;
        for (size_t k = 0; k < 256; ++k) {
            entry += steps[c * 256 + k];
            if (entry < std::numeric_limits<int32_t>::min() || entry > std::numeric_limits<int32_t>::max()) {
                Corrupt("a mapping table leaves the range of its entries");
            }
            luts[c][k] = static_cast<int32_t>(entry);
        }
    }
    return luts;
}

std::vector<std::vector<int32_t>> ReadTables(const TableReader& tables, const Json& header, size_t width) {
    const std::vector<size_t> shape = {width, 256};
    if (header.contains("columnLuts")) return Rows(tables.Values<int32_t>("columnLuts", kI32, shape), 256);
    const auto entry = header.find("columnLutSteps");
    if (entry == header.end()) Corrupt("the mapping tables are missing");
    if (entry->value("dtype", "") == "I16") return Accumulated(tables.Values<int16_t>("columnLutSteps", kI16, shape), width);
    return Accumulated(tables.Values<int8_t>("columnLutSteps", kI8, shape), width);
}

CalibrationRun RunNamed(const std::string& name) {
    for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
        if (name == RunName(run)) return run;
    }
    Corrupt("the run \"" + name + "\" is unknown");
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

float Real(const std::map<std::string, std::string>& metadata, const char* key) {
    const std::string& text = Text(metadata, key);
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || *end != '\0') Corrupt(std::string(key) + " is not a number");
    return value;
}

void RequireColumns(const std::vector<int32_t>& columns, int width, const char* what) {
    for (int32_t c : columns) {
        if (c < 0 || c >= width) Corrupt(std::string(what) + " hold column " + std::to_string(c) + ", outside the image");
    }
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
    std::map<std::string, std::string> metadata = {
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
    };
    metadata["checksum"] = Checksum(metadata, tables.data().data(), tables.data().size());
    tables.header()["__metadata__"] = metadata;
    std::string header = tables.header().dump();
    header.append((8 - header.size() % 8) % 8, ' ');
    std::string file(8, '\0');
    uint64_t length = header.size();
    for (int b = 0; b < 8; ++b) file[b] = static_cast<char>((length >> (8 * b)) & 0xFF);
    return file + header + tables.data();
}

Results ReadCalibrationFile(const std::string& contents) {
    if (contents.size() < 8) Corrupt("it is too short");
    uint64_t length = 0;
    for (int b = 7; b >= 0; --b) length = (length << 8) | static_cast<unsigned char>(contents[b]);
    if (length > contents.size() - 8) Corrupt("its header runs past its end");
    Json header;
    std::map<std::string, std::string> metadata;
    try {
        header = Json::parse(contents.begin() + 8, contents.begin() + 8 + static_cast<std::ptrdiff_t>(length));
        metadata = header.at("__metadata__").get<std::map<std::string, std::string>>();
    } catch (const Json::exception&) {
        Corrupt("its header does not parse");
    }
    if (Text(metadata, "format") != kFormatName) Corrupt("it does not say it is a calibration file");
    const long long version = Whole(metadata, "formatVersion", 1, std::numeric_limits<int32_t>::max());
    if (version > kCalibrationFileFormat) {
        throw Error(ErrorReason::kFileTooNew, "the calibration file has format version " + std::to_string(version) +
                                                  "; this library (" + LibraryVersion() + ") reads versions up to " +
                                                  std::to_string(kCalibrationFileFormat));
    }
    Results r;
    r.run = RunNamed(Text(metadata, "run"));
    r.significantDigits = static_cast<uint32_t>(Whole(metadata, "significantDigits", 0, 4294967295ll));
    r.imageHeight = static_cast<int32_t>(Whole(metadata, "imageHeight", 1, std::numeric_limits<int32_t>::max()));
    r.imageWidth = static_cast<int32_t>(Whole(metadata, "imageWidth", 1, std::numeric_limits<int32_t>::max()));
    const size_t w = static_cast<size_t>(r.imageWidth);
    const char* data = contents.data() + 8 + length;
    const size_t dataSize = contents.size() - 8 - length;
    const TableReader tables(header, data, dataSize);

    // Every table's size first, then the checksum, then the values.
    const size_t references = tables.Length("referenceColumns");
    const size_t groups = tables.Length("columnGroupSizes");
    const size_t members = tables.Length("columnGroupColumns");
    const bool lowHigh = r.run != CalibrationRun::kSegmented;
    r.referenceColumns = tables.Values<int32_t>("referenceColumns", kI32, {references});
    const std::vector<int32_t> sizes = tables.Values<int32_t>("columnGroupSizes", kI32, {groups});
    const std::vector<int32_t> columns = tables.Values<int32_t>("columnGroupColumns", kI32, {members});
    const std::vector<float> quad = tables.Values<float>("quadCoeffs", kF32, {w, 3});
    const std::vector<float> cubic = tables.Values<float>("cubicCoeffs", kF32, {w, 4});
    if (lowHigh) {
        tables.Find("columnFlags", kI32, {w}, false);
        tables.Find("columnDarkRanges", kI32, {w, 2}, false);
    } else {
        for (const char* name : {"segQuadBreaks", "segCubicBreaks"}) tables.Find(name, kI32, {w}, false);
        tables.Find("segQuadCoeffs", kF32, {w, 2, 3}, false);
        tables.Find("segCubicCoeffs", kF32, {w, 2, 4}, false);
    }
    if (Text(metadata, "checksum") != Checksum(metadata, data, dataSize)) {
        Corrupt("its contents do not match their checksum");
    }

    if (r.referenceColumns.empty()) Corrupt("it lists no reference column");
    RequireColumns(r.referenceColumns, r.imageWidth, "the reference columns");
    RequireColumns(columns, r.imageWidth, "the column groups");
    size_t next = 0;
    for (int32_t size : sizes) {
        if (size < 0 || columns.size() - next < static_cast<size_t>(size)) Corrupt("the column groups do not add up");
        r.columnGroups.emplace_back(columns.begin() + next, columns.begin() + next + size);
        next += static_cast<size_t>(size);
    }
    if (next != columns.size()) Corrupt("the column groups do not add up");
    r.fitLowBound = Real(metadata, "fitLowBound");
    r.fitHighBound = Real(metadata, "fitHighBound");
    r.quadGain = Real(metadata, "quadGain");
    r.quadOffset = Real(metadata, "quadOffset");
    r.cubicGain = Real(metadata, "cubicGain");
    r.cubicOffset = Real(metadata, "cubicOffset");
    r.realQuadGain = Real(metadata, "realQuadGain");
    r.realCubicGain = Real(metadata, "realCubicGain");
    r.rangeGain = Real(metadata, "rangeGain");
    r.quadCoeffs = Rows(quad, 3);
    r.cubicCoeffs = Rows(cubic, 4);
    if (lowHigh) {
        r.columnLuts = ReadTables(tables, header, w);
        r.columnFlags = tables.Values<int32_t>("columnFlags", kI32, {w});
        const std::vector<int32_t> ranges = tables.Values<int32_t>("columnDarkRanges", kI32, {w, 2});
        r.columnDarkRanges.resize(w);
        for (size_t c = 0; c < w; ++c) {
            if (r.columnFlags[c] != 0 && r.columnFlags[c] != -1) Corrupt("a column flag is neither 0 nor -1");
            if (r.columnFlags[c] == -1) r.columnDarkRanges[c] = {ranges[2 * c], ranges[2 * c + 1]};
        }
    } else {
        r.segQuadCoeffs = Pieces(tables.Values<float>("segQuadCoeffs", kF32, {w, 2, 3}), 2);
        r.segCubicCoeffs = Pieces(tables.Values<float>("segCubicCoeffs", kF32, {w, 2, 4}), 3);
        r.segQuadBreaks = tables.Values<int32_t>("segQuadBreaks", kI32, {w});
        r.segCubicBreaks = tables.Values<int32_t>("segCubicBreaks", kI32, {w});
    }
    return r;
}

std::string Calibration::Serialize() const { return WriteCalibrationFile(results()); }

Calibration Calibration::Deserialize(const std::string& contents) {
    return MakeCalibration(ReadCalibrationFile(contents));
}

void Calibration::Save(const std::string& path) const { WriteFile(path, Serialize()); }

Calibration Calibration::Load(const std::string& path) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : -1;
    std::string contents(size > 0 ? static_cast<size_t>(size) : 0, '\0');
    if (size < 0 || !file.seekg(0) || !file.read(contents.data(), size)) {
        throw Error(ErrorReason::kFileUnreadable, "cannot read the calibration file " + path);
    }
    return Deserialize(contents);
}

}  // namespace vyrffc
