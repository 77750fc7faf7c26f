// A small writer of SVG documents: the few elements a chart needs (lines, polylines, rectangles,
// text), every attribute and text escaped for XML (bytes that are no allowed UTF-8 character
// become "?"), numbers written independently of the locale (a non-finite one as 0).
// The document is complete once Finish is called (or the writer is destroyed).
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace synapsor {

class SvgWriter {
  public:
    SvgWriter(std::ostream& out, double width, double height);
    ~SvgWriter();
    SvgWriter(const SvgWriter&) = delete;
    SvgWriter& operator=(const SvgWriter&) = delete;

    void Line(double x1, double y1, double x2, double y2, std::string_view stroke,
              double strokeWidth = 1.0);
    void Polyline(const std::vector<std::pair<double, double>>& points, std::string_view stroke,
                  double strokeWidth, std::string_view title);
    void Rect(double x, double y, double width, double height, std::string_view fill,
              std::string_view stroke);
    // anchor: "start", "middle" or "end"; rotate: degrees about (x, y).
    void Text(double x, double y, std::string_view text, std::string_view anchor = "start",
              double size = 12.0, double rotate = 0.0);
    void Finish();

    static std::string Escape(std::string_view text);
    static std::string Number(double value);

  private:
    std::ostream& out;
    bool finished = false;
};

}  // namespace synapsor
