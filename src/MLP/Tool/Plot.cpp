#include "MLP/Tool/Plot.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <istream>
#include <limits>
#include <sstream>

#include "MLP/Common/OutputSet.h"
#include "MLP/Tool/SvgWriter.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

constexpr double kWidth = 800, kHeight = 500;
constexpr double kLeft = 80, kRight = 24, kTop = 48, kBottom = 60;
const char* const kColours[] = {"#1f77b4", "#d62728", "#2ca02c", "#ff7f0e",
                                "#9467bd", "#8c564b", "#e377c2", "#17becf"};

std::string Label(double value) {
    char text[32];
    const auto [ptr, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 6);
    return ec == std::errc() ? std::string(text, ptr) : std::string("?");
}

// An axis mapping data values (logarithms on a log axis) onto a pixel range.
struct Axis {
    double lo = 0, hi = 1;    // in data units (log10 of them on a log axis)
    double from = 0, to = 1;  // pixels
    bool log = false;
    // Halving both sides keeps the quotient exact and the difference finite for data that
    // spans more than the largest double (-1e308 to 1e308).
    double operator()(double v) const {
        const double t = log ? std::log10(v) : v;
        return from + (t * 0.5 - lo * 0.5) / (hi * 0.5 - lo * 0.5) * (to - from);
    }
};

}  // namespace

namespace {

// A number filling [begin, end) entirely.
bool WholeNumber(const char* begin, const char* end, double& value) {
    const auto v = std::from_chars(begin, end, value);
    return v.ec == std::errc() && v.ptr == end && begin != end;
}

}  // namespace

Curve ReadEpochLines(std::istream& in, const std::string& name, Curve* validation) {
    Curve curve{name, {}};
    if (validation != nullptr)
        *validation = Curve{name + " (validation)", {}};
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::size_t space = line.find(' ');
        if (space == 0 || space == std::string::npos)
            continue;
        long long epoch = 0;
        const char* begin = line.data();
        const auto e = std::from_chars(begin, begin + space, epoch);
        if (e.ec != std::errc() || e.ptr != begin + space)
            continue;
        const char* rest = begin + space + 1;
        const char* end = begin + line.size();
        const char* second = std::find(rest, end, ' ');
        double error = 0;
        double checked = 0;
        if (!WholeNumber(rest, second, error))
            continue;
        if (second != end && !WholeNumber(second + 1, end, checked))
            continue;
        curve.points.emplace_back(static_cast<double>(epoch), error);
        if (second != end && validation != nullptr)
            validation->points.emplace_back(static_cast<double>(epoch), checked);
    }
    return curve;
}

std::vector<double> NiceTicks(double lo, double hi, int target) {
    std::vector<double> ticks;
    if (!(hi > lo) || target < 1 || !std::isfinite(lo) || !std::isfinite(hi))
        return {lo};
    double raw = (hi - lo) / target;
    if (!std::isfinite(raw))
        raw = (hi * 0.5 - lo * 0.5) / target * 2.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (!std::isfinite(m * power))
            break;
        step = m * power;
        if (step >= raw)
            break;
    }
    // The tick index is counted in an integer: far from zero (beyond 2^53 steps) adding 1 to a
    // double no longer changes it, and such ticks fall together and are kept once. A step at
    // least the target's share of the range gives no more than target + 1 ticks.
    const double first = std::ceil(lo / step - 1e-9);
    const int most = 2 * target + 4;
    for (int n = 0; n < most; ++n) {
        const double k = first + n;
        const double tick = k * step == 0.0 ? 0.0 : k * step;
        if (!(tick <= hi + step * 1e-9) || !std::isfinite(tick))
            break;
        if (ticks.empty() || tick != ticks.back())
            ticks.push_back(tick);
    }
    return ticks;
}

void WritePlot(std::ostream& out, const std::vector<Curve>& given, const PlotOptions& options,
               std::size_t& skipped) {
    skipped = 0;
    std::vector<Curve> curves = given;
    double xlo = std::numeric_limits<double>::infinity(), xhi = -xlo, ylo = xlo, yhi = -xlo;
    for (Curve& c : curves) {
        const auto drawable = [&](const std::pair<double, double>& p) {
            return std::isfinite(p.second) && (!options.logY || p.second > 0.0);
        };
        const auto kept = std::stable_partition(c.points.begin(), c.points.end(), drawable);
        skipped += static_cast<std::size_t>(c.points.end() - kept);
        c.points.erase(kept, c.points.end());
        if (c.points.empty()) {
            throw ToolError(c.name + ": no epoch line with an error that can be drawn" +
                            (options.logY ? " on a logarithmic axis" : ""));
        }
        for (const auto& [x, y] : c.points) {
            xlo = std::min(xlo, x);
            xhi = std::max(xhi, x);
            ylo = std::min(ylo, y);
            yhi = std::max(yhi, y);
        }
    }

    Axis x{xlo, xhi, kLeft, kWidth - kRight, false};
    if (x.hi == x.lo) {
        // One epoch: an axis one epoch either side of it. Far out (where one epoch vanishes in
        // rounding, or the ticks would count in steps too small to advance) the margin grows
        // with the epoch instead.
        const double pad = std::fabs(x.lo) < 0x1p40 ? 1.0 : std::fabs(x.lo) * 0x1p-20;
        x.lo -= pad;
        x.hi += pad;
    }
    Axis y{0, 1, kHeight - kBottom, kTop, options.logY};
    std::vector<double> yticks;
    if (options.logY) {
        y.lo = std::floor(std::log10(ylo));
        y.hi = std::max(std::ceil(std::log10(yhi)), y.lo + 1);
        const int step = static_cast<int>(std::ceil((y.hi - y.lo) / 8));
        // Over a few decades 2 and 5 times each power of ten are marked too.
        const bool fine = y.hi - y.lo <= 3;
        for (double k = y.lo; k <= y.hi; k += step) {
            yticks.push_back(std::pow(10.0, k));
            if (fine && k < y.hi) {
                yticks.push_back(2 * std::pow(10.0, k));
                yticks.push_back(5 * std::pow(10.0, k));
            }
        }
    } else {
        const double span = yhi - ylo;
        const double pad = yhi > ylo
                               ? (std::isfinite(span) ? span * 0.05 : (yhi * 0.5 - ylo * 0.5) * 0.1)
                               : std::max(std::fabs(yhi) * 0.1, 1.0);
        // Errors near the largest double must not pad the axis to infinity.
        const double largest = std::numeric_limits<double>::max();
        y.lo = std::max(ylo - pad, -largest);
        y.hi = std::min(yhi + pad, largest);
        if (ylo >= 0 && y.lo < 0)
            y.lo = 0;
        yticks = NiceTicks(y.lo, y.hi, 6);
    }
    std::vector<double> xticks = NiceTicks(x.lo, x.hi, 8);
    xticks.erase(
        std::remove_if(xticks.begin(), xticks.end(), [](double t) { return t != std::floor(t); }),
        xticks.end());

    SvgWriter svg(out, kWidth, kHeight);
    svg.Text(kWidth / 2, kTop / 2 + 6, options.title, "middle", 16);
    const double left = kLeft, right = kWidth - kRight, top = kTop, bottom = kHeight - kBottom;
    for (const double t : xticks) {
        const double px = x(t);
        svg.Line(px, top, px, bottom, "#e0e0e0");
        svg.Line(px, bottom, px, bottom + 5, "black");
        svg.Text(px, bottom + 18, Label(t), "middle");
    }
    for (const double t : yticks) {
        const double py = y(t);
        if (py < top - 0.5 || py > bottom + 0.5)
            continue;
        svg.Line(left, py, right, py, "#e0e0e0");
        svg.Line(left - 5, py, left, py, "black");
        svg.Text(left - 8, py + 4, Label(t), "end");
    }
    svg.Line(left, bottom, right, bottom, "black");
    svg.Line(left, top, left, bottom, "black");
    svg.Text((left + right) / 2, kHeight - 16, "epoch", "middle", 13);
    svg.Text(20, (top + bottom) / 2, options.logY ? "error (logarithmic)" : "error", "middle", 13,
             -90);

    for (std::size_t k = 0; k < curves.size(); ++k) {
        std::vector<std::pair<double, double>> pixels;
        for (const auto& [ex, ey] : curves[k].points)
            pixels.emplace_back(x(ex), y(ey));
        svg.Polyline(pixels, kColours[k % 8], 1.5, curves[k].name);
    }
    // The legend sits in the upper right corner of the plot area, over the grid.
    double widest = 0;
    for (const Curve& c : curves)
        widest = std::max(widest, 7.0 * static_cast<double>(c.name.size()));
    const double lw = widest + 44, lh = 20.0 * static_cast<double>(curves.size()) + 8;
    const double lx = right - lw - 8, ly = top + 8;
    svg.Rect(lx, ly, lw, lh, "white", "#808080");
    for (std::size_t k = 0; k < curves.size(); ++k) {
        const double row = ly + 18 + 20.0 * static_cast<double>(k);
        svg.Line(lx + 8, row - 4, lx + 30, row - 4, kColours[k % 8], 2);
        svg.Text(lx + 36, row, curves[k].name);
    }
    svg.Finish();
}

void AddPlotCommand(CLI::App& app) {
    struct Options {
        std::vector<std::string> logs;
        std::string output;
        PlotOptions plot;
    };
    auto o = std::make_shared<Options>();
    CLI::App* sub =
        app.add_subcommand("plot", "Draw the learning curves of trainer output as an SVG chart");
    sub->add_option("logs", o->logs, "trainer output files (- for standard input)")->required();
    sub->add_option("-o,--output", o->output, "SVG file to write (default: standard output)");
    sub->add_flag("--log-y", o->plot.logY, "logarithmic error axis");
    sub->add_option("--title", o->plot.title, "title of the chart");
    sub->callback([o]() {
        std::vector<Curve> curves;
        for (const std::string& log : o->logs) {
            // A run with a validation file draws its validation errors as a second curve.
            Curve validation;
            if (log == "-") {
                curves.push_back(ReadEpochLines(std::cin, "standard input", &validation));
            } else {
                std::ifstream in(log, std::ios::binary);
                if (!in.is_open())
                    throw ToolError("cannot open log file " + log);
                curves.push_back(ReadEpochLines(in, log, &validation));
                if (in.bad())
                    throw ToolError("cannot read log file " + log);
            }
            if (!validation.points.empty())
                curves.push_back(std::move(validation));
        }
        for (const Curve& c : curves) {
            if (c.points.empty())
                throw ToolError(c.name + ": no epoch lines (\"EPOCH ERROR\")");
        }
        std::size_t skipped = 0;
        std::ostringstream svg;
        WritePlot(svg, curves, o->plot, skipped);
        if (skipped > 0) {
            std::cerr << "synapsor-tool: warning: " << skipped
                      << " epoch lines left out: their error cannot be drawn" << std::endl;
        }
        OutputSet outputs(std::cout);
        for (const std::string& log : o->logs)
            outputs.AddInput(log);
        outputs.Add("SVG file", o->output, [&](std::ostream& out) { out << svg.str(); });
        outputs.Commit();
    });
}

}  // namespace synapsor
