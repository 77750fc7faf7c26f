// plot: learning curves from the trainer's output. Every line "EPOCH ERROR" of a log (an integer,
// one space, a number) is a point; other lines are skipped. The SVG chart has an epoch axis and
// an error axis (linear, or logarithmic with --log-y) with ticks and labels, one line per log and
// a legend naming the logs.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

namespace synapsor {

struct Curve {
    std::string name;
    std::vector<std::pair<double, double>> points;  // (epoch, error), in the order read
};

// Epoch lines of the stream; name labels the curve. A line "EPOCH ERROR VALIDATION_ERROR" (a run
// with a validation file) gives its second error to *validation when that is not null (labelled
// "NAME (validation)"), and counts as "EPOCH ERROR" otherwise.
Curve ReadEpochLines(std::istream& in, const std::string& name, Curve* validation = nullptr);

struct PlotOptions {
    bool logY = false;
    std::string title = "Learning curve";
};

// Points that cannot be drawn (an error that is not finite, or not above 0 on a logarithmic
// axis) are left out and counted in skipped. Every curve must keep at least one point.
void WritePlot(std::ostream& out, const std::vector<Curve>& curves, const PlotOptions& options,
               std::size_t& skipped);

// Tick values: multiples of 1, 2 or 5 times a power of ten covering [lo, hi], about target many.
std::vector<double> NiceTicks(double lo, double hi, int target);

}  // namespace synapsor
