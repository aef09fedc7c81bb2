#include "api/calibration_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <opencv2/core.hpp>

#include "api/calibration_state.h"
#include "api/settings.h"

namespace vyrffc {

namespace {

const char* const kFormatName = "VyrCISFlatfieldCorrection calibration";
const char* const kChecksumPrefix = "# checksum fnv1a64 ";

[[noreturn]] void Corrupt(const std::string& what) {
    throw Error(ErrorReason::kFileCorrupt, "the calibration file is damaged or not a calibration file: " + what);
}


std::string Checksum(const char* data, size_t size) {
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<unsigned char>(data[i])) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

void VerifyChecksum(const std::string& contents) {
    const size_t line = contents.rfind(kChecksumPrefix);
    if (line == std::string::npos || (line > 0 && contents[line - 1] != '\n')) Corrupt("its checksum line is missing");
    const std::string stated = contents.substr(line + std::strlen(kChecksumPrefix), 16);
    if (stated != Checksum(contents.data(), line)) Corrupt("its contents do not match their checksum");
}

template <typename T>
cv::Mat Rows(const std::vector<std::vector<T>>& table, int cols, int type) {
    cv::Mat m(static_cast<int>(table.size()), cols, type, cv::Scalar(0));
    for (int r = 0; r < m.rows; ++r) {
        for (int c = 0; c < cols && c < static_cast<int>(table[r].size()); ++c) m.at<T>(r, c) = table[r][c];
    }
    return m;
}

template <typename T>
cv::Mat Row(const std::vector<T>& values, int type) {
    return values.empty() ? cv::Mat() : cv::Mat(1, static_cast<int>(values.size()), type, const_cast<T*>(values.data())).clone();
}

// Steps of the tables in the narrowest type that holds them all; tables whose
// steps do not fit 16 bits are kept as they are.
void WriteTables(cv::FileStorage& fs, const std::vector<std::vector<int32_t>>& luts) {
    int64_t widest = 0;
    for (const std::vector<int32_t>& lut : luts) {
        for (size_t k = 0; k < lut.size(); ++k) {
            const int64_t step = int64_t{lut[k]} - (k ? int64_t{lut[k - 1]} : 0);
            widest = std::max(widest, step < 0 ? -step : step);
        }
    }
    if (widest > std::numeric_limits<int16_t>::max()) {
        fs << "columnLuts" << Rows(luts, 256, CV_32S);
        return;
    }
    cv::Mat steps(static_cast<int>(luts.size()), 256, widest > 127 ? CV_16S : CV_8S);
    for (int r = 0; r < steps.rows; ++r) {
        for (int k = 0; k < 256; ++k) {
            const int step = luts[r][k] - (k ? luts[r][k - 1] : 0);
            if (steps.type() == CV_8S) steps.at<int8_t>(r, k) = static_cast<int8_t>(step);
            else steps.at<int16_t>(r, k) = static_cast<int16_t>(step);
        }
    }
    fs << "columnLutSteps" << steps;
}

cv::Mat ReadMat(const cv::FileStorage& fs, const char* key) {
    cv::Mat m;
    const cv::FileNode node = fs[key];
    if (!node.empty()) node >> m;
    return m;
}

// A matrix of `rows` x `cols` of the type, or nothing when the key is absent
// and `optional`.
cv::Mat Table(const cv::FileStorage& fs, const char* key, int rows, int cols, int type, bool optional) {
    cv::Mat m = ReadMat(fs, key);
    if (m.empty() && optional) return m;
    if (m.empty()) Corrupt(std::string(key) + " is missing");
    if (m.rows != rows || m.cols != cols || m.type() != type) {
        Corrupt(std::string(key) + " holds " + std::to_string(m.rows) + " x " + std::to_string(m.cols) +
                " values where " + std::to_string(rows) + " x " + std::to_string(cols) + " belong");
    }
    return m;
}

template <typename T>
std::vector<std::vector<T>> TableRows(const cv::Mat& m) {
    std::vector<std::vector<T>> table(m.rows);
    for (int r = 0; r < m.rows; ++r) table[r].assign(m.ptr<T>(r), m.ptr<T>(r) + m.cols);
    return table;
}

template <typename T>
std::vector<T> RowValues(const cv::Mat& m) {
    return m.empty() ? std::vector<T>() : std::vector<T>(m.ptr<T>(0), m.ptr<T>(0) + m.cols);
}

std::vector<std::vector<int32_t>> ReadTables(const cv::FileStorage& fs, int width) {
    const cv::Mat plain = ReadMat(fs, "columnLuts");
    if (!plain.empty()) return TableRows<int32_t>(Table(fs, "columnLuts", width, 256, CV_32S, false));
    cv::Mat steps = ReadMat(fs, "columnLutSteps");
    if (steps.empty()) return {};
    if (steps.rows != width || steps.cols != 256 || (steps.type() != CV_8S && steps.type() != CV_16S)) {
        Corrupt("columnLutSteps does not hold 256 steps for each of the " + std::to_string(width) + " columns");
    }
    steps.convertTo(steps, CV_32S);
    std::vector<std::vector<int32_t>> luts(width, std::vector<int32_t>(256));
    for (int r = 0; r < width; ++r) {
        int64_t entry = 0;
        for (int k = 0; k < 256; ++k) {
            entry += steps.at<int32_t>(r, k);
            luts[r][k] = static_cast<int32_t>(entry);
        }
    }
    return luts;
}

CalibrationRun RunNamed(const std::string& name) {
    for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
        if (name == RunName(run)) return run;
    }
    Corrupt("the run \"" + name + "\" is unknown");
}

float Real(const cv::FileStorage& fs, const char* key) {
    const cv::FileNode node = fs[key];
    if (!node.isReal() && !node.isInt()) Corrupt(std::string(key) + " is missing");
    return static_cast<float>(static_cast<double>(node));
}

int Int(const cv::FileStorage& fs, const char* key) {
    const cv::FileNode node = fs[key];
    if (!node.isInt()) Corrupt(std::string(key) + " is missing");
    return static_cast<int>(node);
}

void RequireColumns(const std::vector<int32_t>& columns, int width, const char* what) {
    for (int32_t c : columns) {
        if (c < 0 || c >= width) Corrupt(std::string(what) + " hold column " + std::to_string(c) + ", outside the image");
    }
}

void CheckFormat(const cv::FileStorage& fs) {
    if (fs["format"].string() != kFormatName) Corrupt("it does not say it is a calibration file");
    const int version = Int(fs, "formatVersion");
    if (version > kCalibrationFileFormat) {
        throw Error(ErrorReason::kFileTooNew, "the calibration file has format version " + std::to_string(version) +
                                                  "; this library (" + LibraryVersion() + ") reads versions up to " +
                                                  std::to_string(kCalibrationFileFormat));
    }
    if (version < 1) Corrupt("format version " + std::to_string(version) + " does not exist");
}

Results ReadResults(const cv::FileStorage& fs) {
    Results r;
    r.run = RunNamed(static_cast<std::string>(fs["run"]));
    const std::string digits = static_cast<std::string>(fs["significantDigits"]);
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || parsed > std::numeric_limits<uint32_t>::max()) {
        Corrupt("significantDigits is not a digit count");
    }
    r.significantDigits = static_cast<uint32_t>(parsed);
    r.imageHeight = Int(fs, "imageHeight");
    r.imageWidth = Int(fs, "imageWidth");
    const int w = r.imageWidth;
    if (w <= 0 || r.imageHeight <= 0) Corrupt("the image size is not positive");
    r.referenceColumns = RowValues<int32_t>(ReadMat(fs, "referenceColumns"));
    if (r.referenceColumns.empty()) Corrupt("referenceColumns is missing");
    RequireColumns(r.referenceColumns, w, "the reference columns");
    const std::vector<int32_t> sizes = RowValues<int32_t>(ReadMat(fs, "columnGroupSizes"));
    const std::vector<int32_t> members = RowValues<int32_t>(ReadMat(fs, "columnGroupColumns"));
    size_t next = 0;
    for (int32_t size : sizes) {
        if (size < 0 || members.size() - next < static_cast<size_t>(size)) Corrupt("the column groups do not add up");
        r.columnGroups.emplace_back(members.begin() + next, members.begin() + next + size);
        next += size;
    }
    if (next != members.size()) Corrupt("the column groups do not add up");
    RequireColumns(members, w, "the column groups");
    r.fitLowBound = Real(fs, "fitLowBound");
    r.fitHighBound = Real(fs, "fitHighBound");
    r.quadGain = Real(fs, "quadGain");
    r.quadOffset = Real(fs, "quadOffset");
    r.cubicGain = Real(fs, "cubicGain");
    r.cubicOffset = Real(fs, "cubicOffset");
    r.realQuadGain = Real(fs, "realQuadGain");
    r.realCubicGain = Real(fs, "realCubicGain");
    r.rangeGain = Real(fs, "rangeGain");

    const bool lowHigh = r.run != CalibrationRun::kSegmented;
    r.quadCoeffs = TableRows<float>(Table(fs, "quadCoeffs", w, 3, CV_32F, false));
    r.cubicCoeffs = TableRows<float>(Table(fs, "cubicCoeffs", w, 4, CV_32F, false));
    if (lowHigh) {
        r.columnLuts = ReadTables(fs, w);
        if (r.columnLuts.empty()) Corrupt("the mapping tables are missing");
        r.columnFlags = RowValues<int32_t>(Table(fs, "columnFlags", 1, w, CV_32S, false));
        const cv::Mat ranges = Table(fs, "columnDarkRanges", w, 2, CV_32S, false);
        r.columnDarkRanges.resize(w);
        for (int c = 0; c < w; ++c) {
            if (r.columnFlags[c] != 0 && r.columnFlags[c] != -1) Corrupt("a column flag is neither 0 nor -1");
            if (r.columnFlags[c] == -1) r.columnDarkRanges[c] = {ranges.at<int32_t>(c, 0), ranges.at<int32_t>(c, 1)};
        }
    } else {
        const auto pieces = [&](const char* key, int order) {
            const std::vector<std::vector<float>> rows = TableRows<float>(Table(fs, key, w, 2 * (order + 1), CV_32F, false));
            std::vector<std::vector<std::vector<float>>> table(w);
            for (int c = 0; c < w; ++c) {
                table[c] = {std::vector<float>(rows[c].begin(), rows[c].begin() + order + 1),
                            std::vector<float>(rows[c].begin() + order + 1, rows[c].end())};
            }
            return table;
        };
        r.segQuadCoeffs = pieces("segQuadCoeffs", 2);
        r.segCubicCoeffs = pieces("segCubicCoeffs", 3);
        r.segQuadBreaks = RowValues<int32_t>(Table(fs, "segQuadBreaks", 1, w, CV_32S, false));
        r.segCubicBreaks = RowValues<int32_t>(Table(fs, "segCubicBreaks", 1, w, CV_32S, false));
    }
    return r;
}

}  // namespace

std::string WriteCalibrationFile(const Results& r) {
    cv::FileStorage fs(".yml", cv::FileStorage::WRITE | cv::FileStorage::MEMORY | cv::FileStorage::BASE64);
    fs << "format" << kFormatName;
    fs << "formatVersion" << kCalibrationFileFormat;
    fs << "libraryVersion" << LibraryVersion();
    fs << "run" << RunName(r.run);
    fs << "significantDigits" << std::to_string(r.significantDigits);
    fs << "imageHeight" << r.imageHeight << "imageWidth" << r.imageWidth;
    fs << "referenceColumns" << Row(r.referenceColumns, CV_32S);
    std::vector<int32_t> sizes, members;
    for (const std::vector<int32_t>& group : r.columnGroups) {
        sizes.push_back(static_cast<int32_t>(group.size()));
        members.insert(members.end(), group.begin(), group.end());
    }
    fs << "columnGroupSizes" << Row(sizes, CV_32S) << "columnGroupColumns" << Row(members, CV_32S);
    fs << "fitLowBound" << r.fitLowBound << "fitHighBound" << r.fitHighBound;
    fs << "quadGain" << r.quadGain << "quadOffset" << r.quadOffset << "cubicGain" << r.cubicGain << "cubicOffset"
       << r.cubicOffset;
    fs << "realQuadGain" << r.realQuadGain << "realCubicGain" << r.realCubicGain << "rangeGain" << r.rangeGain;
    fs << "quadCoeffs" << Rows(r.quadCoeffs, 3, CV_32F) << "cubicCoeffs" << Rows(r.cubicCoeffs, 4, CV_32F);
    if (r.run != CalibrationRun::kSegmented) {
        WriteTables(fs, r.columnLuts);
        fs << "columnFlags" << Row(r.columnFlags, CV_32S);
        fs << "columnDarkRanges" << Rows(r.columnDarkRanges, 2, CV_32S);
    } else {
        const auto pieces = [](const std::vector<std::vector<std::vector<float>>>& table, int order) {
            cv::Mat m(static_cast<int>(table.size()), 2 * (order + 1), CV_32F);
            for (int c = 0; c < m.rows; ++c) {
                for (int p = 0; p < 2; ++p) {
                    for (int j = 0; j <= order; ++j) m.at<float>(c, p * (order + 1) + j) = table[c][p][j];
                }
            }
            return m;
        };
        fs << "segQuadCoeffs" << pieces(r.segQuadCoeffs, 2) << "segQuadBreaks" << Row(r.segQuadBreaks, CV_32S);
        fs << "segCubicCoeffs" << pieces(r.segCubicCoeffs, 3) << "segCubicBreaks" << Row(r.segCubicBreaks, CV_32S);
    }
    return AppendChecksum(fs.releaseAndGetString());
}

std::string AppendChecksum(std::string document) {
    if (!document.empty() && document.back() != '\n') document += '\n';
    const std::string sum = Checksum(document.data(), document.size());
    return document + kChecksumPrefix + sum + "\n";
}

Results ReadCalibrationFile(const std::string& contents) {
    cv::FileStorage fs;
    try {
        fs.open(contents, cv::FileStorage::READ | cv::FileStorage::MEMORY);
    } catch (const cv::Exception& e) {
        Corrupt("it does not parse (" + e.err + ")");
    }
    if (!fs.isOpened()) Corrupt("it does not parse");
    // The version first: a newer file is refused as newer, not as damaged.
    CheckFormat(fs);
    VerifyChecksum(contents);
    try {
        return ReadResults(fs);
    } catch (const cv::Exception& e) {
        Corrupt("a field does not read (" + e.err + ")");
    }
}

std::string Calibration::Serialize() const { return WriteCalibrationFile(results()); }

Calibration Calibration::Deserialize(const std::string& contents) {
    return MakeCalibration(ReadCalibrationFile(contents));
}

void Calibration::Save(const std::string& path) const {
    const std::string contents = Serialize();
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        throw Error(ErrorReason::kFileUnreadable, "cannot write " + path + ": " + std::strerror(errno));
    }
    size_t written = 0;
    while (written < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + written, contents.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
    }
    // A file replaced keeps its permissions; a new one is readable by all,
    // as files made through the usual umask are.
    struct stat target;
    const bool complete = written == contents.size() &&
                          ::fchmod(fd, ::stat(path.c_str(), &target) == 0 ? target.st_mode & 07777 : 0644) == 0 &&
                          ::fsync(fd) == 0;
    ::close(fd);
    if (!complete || std::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        std::remove(temporary.c_str());
        throw Error(ErrorReason::kFileUnreadable, "cannot write " + path + ": " + reason);
    }
}

Calibration Calibration::Load(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw Error(ErrorReason::kFileUnreadable, "cannot read the calibration file " + path);
    std::string contents((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad()) throw Error(ErrorReason::kFileUnreadable, "cannot read the calibration file " + path);
    return Deserialize(contents);
}

}  // namespace vyrffc
