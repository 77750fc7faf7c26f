// Row labels: named numbers that describe one row of a data set and take no part in training.
// A TLabelList keeps its labels in the order their names first appeared; AddLabel matches names
// exactly (case matters) and adds the value to an existing label, so a list built with AddLabel
// holds each name once. Copies are deep: a copy never changes when its source does.
#pragma once

#include <string>
#include <vector>

namespace synapsor {

struct TLabel {
    double value = 0.0;
    std::string name;  // empty only in a label that was default-constructed and never assigned
};

class TLabelList {
  public:
    TLabelList() = default;
    // A list of one label. name must not be null.
    TLabelList(const char* name, double value);

    int numLabels() const { return static_cast<int>(labels.size()); }

    // Adds value to the label called name, or appends a new label when no label has that name.
    // name must not be null.
    void AddLabel(const char* name, double value);

    std::vector<TLabel> labels;
};

}  // namespace synapsor
