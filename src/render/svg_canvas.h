// The drawing surface of the SVG renderers: a figure with a title, one or more panels with a
// value axis and a category (or second value) axis, marks and a legend.
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "render/output.h"

namespace velloc::host::svg {

// Treated and control keep one look in every figure: dark blue filled circles and orange open
// triangles, distinguishable in grey print and for colour-blind readers.
inline constexpr const char* kTreatedColour = "#1f3f8f";
inline constexpr const char* kControlColour = "#e08000";

std::string num(double v); // compact coordinate text

// Dynamics of a graph record (phantom dynamics, then the graph's own).
double dynNum(const GraphRecord& g, const std::string& name, double dflt = NAN);
std::string dynText(const GraphRecord& g, const std::string& name);
// The quoted tick list 'a''b''c' split into its labels.
std::vector<std::string> splitTicks(const std::string& ticks);

// Legend text of a group, from the level texts the graph carries: "Treated (treat = 1)", or
// "Treated (1)" without the variable's name, or the bare word without a level.
std::string groupText(const GraphRecord& g, bool treated);

// Column access of the phantom rows (c < 0: an absent column, missing in every row).
int col(const GraphRecord& g, const std::string& name);
double cellNum(const GraphRecord& g, std::size_t r, int c);
const std::string& cellText(const GraphRecord& g, std::size_t r, int c);

// A column read in a pass over every row: the column store's own buffer, or a copy when the
// rows are kept as cells. Reads as cellNum does (an absent column is missing in every row).
class NumberColumn {
  public:
    NumberColumn(const GraphRecord& g, int c);
    NumberColumn(const NumberColumn&) = delete;
    NumberColumn& operator=(const NumberColumn&) = delete;
    double operator[](std::size_t r) const { return p_ ? p_[r] : NAN; }

  private:
    const double* p_ = nullptr;
    std::vector<double> own_;
};

// A text column as codes into its distinct texts, so a pass compares codes, not strings.
// Reads as cellText does (a numeric or absent column is "" in every row).
class TextColumn {
  public:
    TextColumn(const GraphRecord& g, int c);
    TextColumn(const TextColumn&) = delete;
    TextColumn& operator=(const TextColumn&) = delete;
    std::uint32_t code(std::size_t r) const { return codes_ ? codes_[r] : 0; }
    const std::string& text(std::uint32_t code) const { return (*texts_)[code]; }
    std::size_t distinct() const { return texts_->size(); }

  private:
    const std::uint32_t* codes_ = nullptr;
    const std::vector<std::string>* texts_ = nullptr;
    std::vector<std::uint32_t> ownCodes_;
    std::vector<std::string> ownTexts_{std::string()};
};

// Nice tick values covering [lo, hi].
std::vector<double> niceTicks(double lo, double hi, int target = 6);

// A panel: maps the value axis (v) and the position axis (p) onto the drawing; in the vertical
// layout the value axis runs up the page, otherwise across it.
struct Panel {
    double x0, y0, w, h;       // plot area in pixels
    double vlo, vhi, plo, phi; // axis ranges
    bool vertical = false;     // value axis vertical
    double px(double v, double p) const;
    double py(double v, double p) const;
};

struct Figure {
    double width = 640, height = 420;
    std::string body;
    void text(double x, double y, const std::string& s, const char* anchor = "middle",
              int size = 12, double rotate = 0, const char* weight = "normal");
    void line(double x1, double y1, double x2, double y2, const char* stroke = "#444", double w = 1,
              const char* dash = nullptr);
    void rect(double x, double y, double w, double h, const char* fill, const char* stroke,
              double opacity = 1.0);
    // A group mark: treated a filled circle, control an open triangle.
    void mark(double x, double y, bool treated, double r = 3.5, double opacity = 1.0);
    // Frame, ticks and labels of a panel. valueLabel/posLabel go along their axes; posTicks
    // label positions 1..n (empty: numeric ticks).
    void axes(const Panel& p, const std::string& valueLabel, const std::string& posLabel,
              const std::vector<std::string>& posTicks, const std::vector<double>& posAt);
    void legend(double x, double y, const std::vector<std::pair<std::string, int>>& entries);
    std::string finish(const std::string& title, const std::string& name) const;
};

// Width in pixels of the longest tick label (11-pixel type).
double tickTextWidth(const std::vector<std::string>& ticks);

// A plot area of the standard figure, leaving room for the title, axes and legend.
Panel standardPanel(const Figure& f, bool vertical, double vlo, double vhi, double plo, double phi);

// Renderers per template family.
std::string drawStdDiff(const GraphRecord& g);
std::string drawBox(const GraphRecord& g);
std::string drawCdf(const GraphRecord& g);
std::string drawBar(const GraphRecord& g);
std::string drawCloud(const GraphRecord& g);

} // namespace velloc::host::svg
