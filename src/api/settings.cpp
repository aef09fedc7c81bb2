#include "api/settings.h"

#include <algorithm>
#include <map>
#include <utility>

namespace vyrffc {

namespace {

[[noreturn]] void Invalid(const std::string& message) { throw Error(ErrorReason::kInvalidSettings, message); }

void MostCommonSize(const ImageList& list, int32_t& height, int32_t& width) {
    std::map<std::pair<int32_t, int32_t>, int> counts;
    int best = 0;
    for (const ListedImage& image : list.images) {
        if (!image.problem.empty()) continue;
        const int count = ++counts[{image.rows, image.cols}];
        if (count > best) {
            best = count;
            height = image.rows;
            width = image.cols;
        }
    }
}

// The middle fifth of the line, in 64 bits so that no width overflows.
std::vector<int32_t> MiddleFifth(int32_t width) {
    const int64_t first = 2 * int64_t{width} / 5;
    const int64_t last = std::max(first, 3 * int64_t{width} / 5 - 1);
    std::vector<int32_t> columns;
    for (int64_t c = first; c <= last; ++c) columns.push_back(static_cast<int32_t>(c));
    return columns;
}

void CheckColumns(const Settings& s) {
    const auto outside = [&](int32_t column) { return column < 0 || column >= s.imageWidth; };
    for (int32_t column : s.referenceColumns) {
        if (outside(column)) {
            throw Error(ErrorReason::kColumnOutsideImage, "reference column " + std::to_string(column) +
                                                              " lies outside the " + std::to_string(s.imageWidth) +
                                                              "-column image");
        }
    }
    for (size_t g = 0; g < s.columnGroups.size(); ++g) {
        for (int32_t column : s.columnGroups[g]) {
            if (outside(column)) {
                throw Error(ErrorReason::kColumnOutsideImage,
                            "column group " + std::to_string(g + 1) + " holds column " + std::to_string(column) +
                                ", outside the " + std::to_string(s.imageWidth) + "-column image");
            }
        }
    }
}

}  // namespace

const char* RunName(CalibrationRun run) {
    switch (run) {
        case CalibrationRun::kCurrent: return "current";
        case CalibrationRun::kPrevious: return "previous";
        case CalibrationRun::kSegmented: return "segmented";
    }
    return "unknown";
}

std::optional<CalibrationRun> RunNamed(std::string_view name) {
    for (CalibrationRun run : {CalibrationRun::kCurrent, CalibrationRun::kPrevious, CalibrationRun::kSegmented}) {
        if (name == RunName(run)) return run;
    }
    return std::nullopt;
}

std::vector<std::vector<int32_t>> ConsecutiveGroups(int32_t width, int32_t groupWidth) {
    std::vector<std::vector<int32_t>> groups;
    for (int64_t first = 0; first < width; first += groupWidth) {
        const int64_t end = std::min<int64_t>(width, first + groupWidth);
        if (2 * (end - first) < groupWidth) break;
        std::vector<int32_t>& group = groups.emplace_back();
        for (int64_t c = first; c < end; ++c) group.push_back(static_cast<int32_t>(c));
    }
    return groups;
}

Settings ResolveSettings(Settings s, const ImageList& list) {
    if (s.imageHeight < 0 || s.imageWidth < 0 || (s.imageHeight == 0) != (s.imageWidth == 0)) {
        Invalid("the image size " + SizeText(s.imageHeight, s.imageWidth) +
                " is not a size; give both as positive numbers, or neither");
    }
    if (s.columnGroups.empty() && s.groupWidth <= 0) {
        Invalid("the group width " + std::to_string(s.groupWidth) + " is not a positive number of columns");
    }
    if (list.images.empty()) {
        throw Error(ErrorReason::kNoImageFiles,
                    list.inMemory ? std::string("no images were given")
                                  : "no file matches \"" + list.source + "*.bmp\"");
    }
    if (s.imageWidth == 0) MostCommonSize(list, s.imageHeight, s.imageWidth);
    if (s.imageWidth == 0) return s;  // nothing readable: the image count says why
    if (s.referenceColumns.empty()) {
        if (s.run == CalibrationRun::kSegmented) {
            for (int32_t c = 0; c < s.imageWidth; ++c) s.referenceColumns.push_back(c);
        } else {
            s.referenceColumns = MiddleFifth(s.imageWidth);
        }
    }
    if (s.run == CalibrationRun::kSegmented) {
        // The segmented run walks its list in ascending order only.
        std::sort(s.referenceColumns.begin(), s.referenceColumns.end());
        s.referenceColumns.erase(std::unique(s.referenceColumns.begin(), s.referenceColumns.end()),
                                 s.referenceColumns.end());
    }
    if (s.columnGroups.empty()) {
        if (s.groupWidth > s.imageWidth) {
            Invalid("the group width " + std::to_string(s.groupWidth) + " exceeds the " +
                    std::to_string(s.imageWidth) + "-column image");
        }
        s.columnGroups = ConsecutiveGroups(s.imageWidth, s.groupWidth);
    }
    CheckColumns(s);
    return s;
}

}  // namespace vyrffc
