#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace cisffc {

namespace {

const cv::Scalar kBlack(0, 0, 0);
const cv::Scalar kGrid(225, 225, 225);
const int kFont = cv::FONT_HERSHEY_SIMPLEX;

struct Axis {
    double low = 0.0;
    double high = 1.0;
    bool log = false;
    std::vector<double> ticks;
};

double Transformed(const Axis& axis, double value) { return axis.log ? std::log10(value) : value; }

bool Usable(const Axis& axis, double value) { return std::isfinite(value) && (!axis.log || value > 0.0); }

std::string TickLabel(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Linear ticks at 1, 2 or 5 times a power of ten, about six of them, inside
// the axis range.
void LinearTicks(Axis& axis) {
    if (!(axis.high > axis.low)) {
        const double pad = std::max(1.0, std::fabs(axis.low) * 0.1);
        axis.low -= pad;
        axis.high += pad;
    }
    const double rough = (axis.high - axis.low) / 6.0;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power;
    for (double factor : {2.0, 5.0, 10.0}) {
        if (step < rough) step = power * factor;
    }
    for (double tick = std::ceil(axis.low / step) * step; tick <= axis.high + step * 1e-9; tick += step) {
        axis.ticks.push_back(std::fabs(tick) < step * 1e-9 ? 0.0 : tick);
    }
}

// Log ticks at the powers of ten that bracket the data.
void LogTicks(Axis& axis) {
    const double low = std::floor(std::log10(axis.low));
    double high = std::ceil(std::log10(axis.high));
    if (high <= low) high = low + 1.0;
    axis.low = std::pow(10.0, low);
    axis.high = std::pow(10.0, high);
    for (double power = low; power <= high; power += 1.0) {
        axis.ticks.push_back(std::pow(10.0, power));
    }
}

Axis MakeAxis(const std::vector<Series>& series, bool useY, bool log) {
    Axis axis;
    axis.log = log;
    double low = std::numeric_limits<double>::infinity();
    double high = -low;
    for (const Series& s : series) {
        for (double value : useY ? s.y : s.x) {
            if (Usable(axis, value)) {
                low = std::min(low, value);
                high = std::max(high, value);
            }
        }
    }
    if (!std::isfinite(low)) {
        low = log ? 0.1 : 0.0;
        high = log ? 10.0 : 1.0;
    }
    // Values keep a little distance from the top and bottom edges.
    const double pad = useY && !log ? 0.05 * (high - low) : 0.0;
    axis.low = low - pad;
    axis.high = high + pad;
    if (log) {
        LogTicks(axis);
    } else {
        LinearTicks(axis);
    }
    return axis;
}

void PutText(cv::Mat& image, const std::string& text, cv::Point origin, double scale, int thickness = 1,
             const cv::Scalar& color = kBlack) {
    cv::putText(image, text, origin, kFont, scale, color, thickness, cv::LINE_AA);
}

cv::Size TextSize(const std::string& text, double scale, int thickness = 1) {
    int baseline = 0;
    return cv::getTextSize(text, kFont, scale, thickness, &baseline);
}

const cv::Scalar kShade(238, 226, 214);
const cv::Scalar kShadeEdge(170, 130, 90);
// Room left of a plot area for the y label and the tick labels; a panel of
// text lines up with the plots.
const int kPlotLeft = 78;

bool Shaded(const Panel& panel) { return panel.shadeHigh > panel.shadeLow; }

int LegendWidth(const Panel& panel) {
    int width = Shaded(panel) ? TextSize(panel.shadeName, 0.4).width : 0;
    for (const Series& s : panel.series) width = std::max(width, TextSize(s.name, 0.4).width);
    return width == 0 ? 0 : width + 36;
}

void DrawText(cv::Mat& canvas, const Panel& panel) {
    PutText(canvas, panel.title, {kPlotLeft, 22}, 0.55, 1);
    int y = 56;
    for (const std::string& line : panel.text) {
        PutText(canvas, line, {kPlotLeft, y}, 0.45);
        y += 22;
    }
}

// Where a panel's data lands: the plot area and the axes mapped onto it.
struct Frame {
    cv::Rect area;
    Axis x;
    Axis y;

    cv::Point ToPixel(double xValue, double yValue) const {
        const double fx = (xValue - x.low) / (x.high - x.low);
        const double fy = (Transformed(y, yValue) - Transformed(y, y.low)) /
                          (Transformed(y, y.high) - Transformed(y, y.low));
        return cv::Point(static_cast<int>(std::lround(area.x + fx * area.width)),
                         static_cast<int>(std::lround(area.y + (1.0 - fy) * area.height)));
    }
};

// The legend sits right of the plot area, where it hides no data; the x axis
// spans the shaded band as well as the series.
Frame MakeFrame(const cv::Mat& canvas, const Panel& panel, int legendWidth) {
    const int right = 18 + (legendWidth > 0 ? legendWidth + 8 : 0), top = 34, bottom = 52;
    Frame frame;
    frame.area = cv::Rect(kPlotLeft, top, canvas.cols - kPlotLeft - right, canvas.rows - top - bottom);
    std::vector<Series> xExtent = panel.series;
    if (Shaded(panel)) {
        // A band that reached both edges would shade the whole area and show
        // nothing of where it ends: the axis runs a little past it.
        const double margin = 0.04 * (panel.shadeHigh - panel.shadeLow);
        xExtent.push_back({"", {}, {panel.shadeLow - margin, panel.shadeHigh + margin}, {}});
    }
    frame.x = MakeAxis(xExtent, false, false);
    frame.y = MakeAxis(panel.series, true, panel.logY);
    return frame;
}

void DrawShade(cv::Mat& canvas, const Panel& panel, const Frame& frame) {
    const cv::Rect& area = frame.area;
    const int from = std::clamp(frame.ToPixel(panel.shadeLow, frame.y.low).x, area.x, area.x + area.width);
    const int to = std::clamp(frame.ToPixel(panel.shadeHigh, frame.y.low).x, area.x, area.x + area.width);
    cv::rectangle(canvas, cv::Rect(from, area.y, to - from, area.height), kShade, cv::FILLED);
    // Its bounds are drawn as edges, each with its value inside the band.
    for (const double bound : {panel.shadeLow, panel.shadeHigh}) {
        const int x = frame.ToPixel(bound, frame.y.low).x;
        if (x < area.x || x > area.x + area.width) continue;
        cv::line(canvas, {x, area.y}, {x, area.y + area.height}, kShadeEdge, 1);
        char label[32];
        std::snprintf(label, sizeof label, "%.4g", bound);
        const int width = TextSize(label, 0.38).width;
        PutText(canvas, label, {bound == panel.shadeLow ? x + 4 : x - 4 - width, area.y + 14}, 0.38, 1, kShadeEdge);
    }
}

// Grid lines and tick labels of both axes, and the box around the area.
void DrawGrid(cv::Mat& canvas, const Frame& frame) {
    const cv::Rect& area = frame.area;
    for (double tick : frame.x.ticks) {
        const cv::Point p = frame.ToPixel(tick, frame.y.low);
        cv::line(canvas, {p.x, area.y}, {p.x, area.y + area.height}, kGrid, 1);
        const std::string label = TickLabel(tick);
        PutText(canvas, label, {p.x - TextSize(label, 0.4).width / 2, area.y + area.height + 16}, 0.4);
    }
    for (double tick : frame.y.ticks) {
        const cv::Point p = frame.ToPixel(frame.x.low, tick);
        cv::line(canvas, {area.x, p.y}, {area.x + area.width, p.y}, kGrid, 1);
        const std::string label = TickLabel(tick);
        PutText(canvas, label, {area.x - 6 - TextSize(label, 0.4).width, p.y + 5}, 0.4);
    }
    cv::rectangle(canvas, area, kBlack, 1);
}

void DrawAxisLabels(cv::Mat& canvas, const Panel& panel, const cv::Rect& area) {
    PutText(canvas, panel.xLabel, {area.x + area.width / 2 - TextSize(panel.xLabel, 0.45).width / 2, canvas.rows - 12},
            0.45);
    // The y label runs up the left edge: drawn flat, then rotated into place.
    const cv::Size labelSize = TextSize(panel.yLabel, 0.45);
    cv::Mat flat(labelSize.height + 8, labelSize.width + 4, CV_8UC3, cv::Scalar::all(255));
    PutText(flat, panel.yLabel, {2, labelSize.height + 2}, 0.45);
    cv::Mat upright;
    cv::rotate(flat, upright, cv::ROTATE_90_COUNTERCLOCKWISE);
    const int labelTop = std::max(0, area.y + area.height / 2 - upright.rows / 2);
    if (labelTop + upright.rows <= canvas.rows) {
        upright.copyTo(canvas(cv::Rect(4, labelTop, upright.cols, upright.rows)));
    }
}

// A line through the usable points, broken at the others, and its markers;
// nothing is drawn outside the plot area.
void DrawSeries(cv::Mat& canvas, const Series& s, const Frame& frame) {
    cv::Mat plotArea = canvas(frame.area);
    std::vector<cv::Point> run;
    auto flush = [&]() {
        if (run.size() > 1 && s.line) {
            std::vector<cv::Point> shifted(run);
            for (cv::Point& p : shifted) p -= frame.area.tl();
            cv::polylines(plotArea, shifted, false, s.color, s.thickness, cv::LINE_AA);
        }
        run.clear();
    };
    for (size_t i = 0; i < s.x.size() && i < s.y.size(); ++i) {
        if (!Usable(frame.x, s.x[i]) || !Usable(frame.y, s.y[i])) {
            flush();
            continue;
        }
        run.push_back(frame.ToPixel(s.x[i], s.y[i]));
        if (s.markers) cv::circle(plotArea, run.back() - frame.area.tl(), 3, s.color, cv::FILLED, cv::LINE_AA);
    }
    flush();
}

void DrawLegend(cv::Mat& canvas, const Panel& panel, const cv::Rect& area, int legendWidth) {
    const int rowHeight = 16;
    const int rows = static_cast<int>(panel.series.size()) + (Shaded(panel) ? 1 : 0);
    const cv::Rect box(area.x + area.width + 8, area.y, legendWidth, rowHeight * rows + 6);
    cv::rectangle(canvas, box, cv::Scalar::all(255), cv::FILLED);
    cv::rectangle(canvas, box, cv::Scalar::all(160), 1);
    for (size_t i = 0; i < panel.series.size(); ++i) {
        const Series& s = panel.series[i];
        const int y = box.y + 12 + rowHeight * static_cast<int>(i);
        if (s.line) cv::line(canvas, {box.x + 6, y - 4}, {box.x + 26, y - 4}, s.color, 2, cv::LINE_AA);
        if (s.markers) cv::circle(canvas, {box.x + 16, y - 4}, 3, s.color, cv::FILLED, cv::LINE_AA);
        PutText(canvas, s.name, {box.x + 30, y}, 0.4);
    }
    if (Shaded(panel)) {
        const int y = box.y + 12 + rowHeight * static_cast<int>(panel.series.size());
        cv::rectangle(canvas, cv::Rect(box.x + 6, y - 10, 20, 11), kShade, cv::FILLED);
        PutText(canvas, panel.shadeName, {box.x + 30, y}, 0.4);
    }
}

void DrawPanel(cv::Mat& canvas, const Panel& panel) {
    if (panel.series.empty()) {
        DrawText(canvas, panel);
        return;
    }
    const int legendWidth = LegendWidth(panel);
    const Frame frame = MakeFrame(canvas, panel, legendWidth);
    PutText(canvas, panel.title, {kPlotLeft, 22}, 0.55, 1);
    if (Shaded(panel)) DrawShade(canvas, panel, frame);
    DrawGrid(canvas, frame);
    DrawAxisLabels(canvas, panel, frame.area);
    for (const Series& s : panel.series) DrawSeries(canvas, s, frame);
    if (legendWidth > 0) DrawLegend(canvas, panel, frame.area, legendWidth);
}

}  // namespace

cv::Scalar PaletteColor(size_t index) {
    // Blue, orange, green, red, purple, brown, pink, olive, cyan (BGR).
    static const cv::Scalar colors[] = {{180, 119, 31}, {14, 127, 255},  {44, 160, 44},
                                        {40, 39, 214},  {189, 103, 148}, {75, 86, 140},
                                        {194, 119, 227}, {34, 189, 188}, {207, 190, 23}};
    return colors[index % (sizeof colors / sizeof colors[0])];
}

cv::Mat DrawFigure(const std::string& title, const std::vector<Panel>& panels, int gridColumns, cv::Size panelSize,
                   const std::string& footer) {
    const int titleHeight = 40;
    const int footerHeight = footer.empty() ? 0 : 28;
    const int gridRows = static_cast<int>((panels.size() + gridColumns - 1) / gridColumns);
    cv::Mat figure(titleHeight + gridRows * panelSize.height + footerHeight, gridColumns * panelSize.width, CV_8UC3,
                   cv::Scalar::all(255));
    if (!footer.empty()) PutText(figure, footer, {16, figure.rows - 10}, 0.45, 1, cv::Scalar::all(90));
    PutText(figure, title, {16, 28}, 0.7, 2);
    for (size_t i = 0; i < panels.size(); ++i) {
        const int row = static_cast<int>(i) / gridColumns;
        const int column = static_cast<int>(i) % gridColumns;
        cv::Mat canvas = figure(cv::Rect(column * panelSize.width, titleHeight + row * panelSize.height,
                                         panelSize.width, panelSize.height));
        DrawPanel(canvas, panels[i]);
    }
    return figure;
}

}  // namespace cisffc
