// Line plots drawn with OpenCV: panels with axes, ticks, labels and a legend,
// laid out in a grid on one white image.
#ifndef CISFFC_PLOT_H
#define CISFFC_PLOT_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace cisffc {

struct Series {
    std::string name;
    cv::Scalar color;
    std::vector<double> x;
    std::vector<double> y;  // NaN leaves a gap
    bool markers = false;
    int thickness = 1;
    bool line = true;  // false: markers only
};

struct Panel {
    std::string title;
    std::string xLabel;
    std::string yLabel;
    std::vector<Series> series;
    bool logY = false;
    // An x range drawn as a shaded band behind the series, named in the legend.
    double shadeLow = 0.0;
    double shadeHigh = 0.0;
    std::string shadeName;
    // A panel without series shows these lines of text instead.
    std::vector<std::string> text;
};

// Colors that stay apart on white, in the order series usually take them.
cv::Scalar PaletteColor(size_t index);

// Panels fill the grid row by row; the figure title runs across the top and
// the footer, in small type, along the bottom.
cv::Mat DrawFigure(const std::string& title, const std::vector<Panel>& panels, int gridColumns, cv::Size panelSize,
                   const std::string& footer = "");

}  // namespace cisffc

#endif  // CISFFC_PLOT_H
