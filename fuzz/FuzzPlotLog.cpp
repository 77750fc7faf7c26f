// Fuzz target: the plot log reader and the chart. The first byte of the input chooses the
// logarithmic error axis and the title; the rest holds up to three logs separated by lines
// "%%". Every log with epoch lines becomes a curve; the chart must end in a ToolError or in an
// SVG document that is well-formed XML (tags nested and closed, every "&" an entity), holds no
// number that is not finite, and stays within a size bound: a fixed part for axes, ticks and
// legend plus a bounded part per point.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzSupport.h"
#include "MLP/Tool/Plot.h"
#include "MLP/Tool/ToolSupport.h"

namespace {

using namespace synapsor;

constexpr std::string_view kSeparator = "\n%%\n";
constexpr std::size_t kMaxCurves = 3;
// Axes, ticks, labels, title and legend take a few kilobytes; a point is one "x,y " pair.
constexpr std::size_t kFixedBytes = 16384;
constexpr std::size_t kBytesPerPoint = 48;

// Names of elements opened and not yet closed, checked as the document is scanned.
bool WellFormed(std::string_view svg) {
    std::vector<std::string_view> open;
    std::size_t i = 0;
    while ((i = svg.find_first_of("<&", i)) != std::string_view::npos) {
        if (svg[i] == '&') {
            const std::size_t semi = svg.find(';', i);
            if (semi == std::string_view::npos || semi - i > 8)
                return false;
            const std::string_view entity = svg.substr(i, semi - i + 1);
            if (entity != "&amp;" && entity != "&lt;" && entity != "&gt;" && entity != "&quot;" &&
                entity != "&apos;" && entity.substr(0, 2) != "&#")
                return false;
            i = semi + 1;
            continue;
        }
        const std::size_t close = svg.find('>', i);
        if (close == std::string_view::npos)
            return false;
        const std::string_view tag = svg.substr(i + 1, close - i - 1);
        if (tag.find('<') != std::string_view::npos)
            return false;
        i = close + 1;
        if (tag.empty() || tag[0] == '?' || tag[0] == '!')
            continue;
        const std::size_t nameEnd = tag.find_first_of(" \t\n/");
        if (tag[0] == '/') {
            if (open.empty() || tag.substr(1) != open.back())
                return false;
            open.pop_back();
        } else if (tag.back() != '/') {
            open.push_back(tag.substr(0, nameEnd));
        }
    }
    return open.empty();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    static const char* const kTitles[] = {"Learning curve", "", "a < b & \"c\" > 'd'",
                                          "Fehlerkurve \xC3\xA4\xC3\xB6\xC3\xBC"};
    PlotOptions options;
    options.logY = (data[0] & 1) != 0;
    options.title = kTitles[(data[0] >> 1) & 3];
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<Curve> curves;
    std::size_t points = 0;
    while (curves.size() < kMaxCurves) {
        const std::size_t at = rest.find(kSeparator);
        std::istringstream in{std::string(rest.substr(0, at))};
        Curve curve = ReadEpochLines(in, "log" + std::to_string(curves.size() + 1));
        points += curve.points.size();
        if (!curve.points.empty())
            curves.push_back(std::move(curve));
        if (at == std::string_view::npos)
            break;
        rest.remove_prefix(at + kSeparator.size());
    }
    if (curves.empty())
        return 0;

    std::ostringstream out;
    std::size_t skipped = 0;
    try {
        WritePlot(out, curves, options, skipped);
    } catch (const ToolError&) {
        return 0;
    }
    FUZZ_CHECK(skipped <= points);
    const std::string svg = out.str();
    if (svg.size() > kFixedBytes + kBytesPerPoint * points) {
        std::fprintf(stderr, "plot of %zu points is %zu bytes\n", points, svg.size());
        FUZZ_CHECK(!"the chart stays within its size bound");
    }
    FUZZ_CHECK(WellFormed(svg));
    // Numbers are written as digits; "nan" and "inf" appear only where a number was not finite
    // (the titles and curve names above hold neither).
    FUZZ_CHECK(svg.find("nan") == std::string::npos && svg.find("inf") == std::string::npos);
    return 0;
}
