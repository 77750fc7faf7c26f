// export: a data set file as a CSV table, both data sets of a recall's file included. Without a
// preparation the columns are named input1.., target1.., output1.., error1..; with one they take
// the table's column names, numbers go back to the table's units and one-hot groups become the
// name of their largest value's category. Row labels written by import come back as a "label"
// column. With scores, each predicted class (COLUMN_predicted) is followed by the network's
// output for every category of that column, as COLUMN_score_CATEGORY.
#pragma once

#include <iosfwd>
#include <string>

#include "DataObject/Data.h"
#include "MLP/Tool/Preparation.h"

namespace synapsor {

// first or second may be null (not both). prep may be null. dataFile names the file in messages.
void ExportCsv(std::ostream& out, const Data* first, const Data* second, const Preparation* prep,
               const std::string& dataFile, bool scores = false);

}  // namespace synapsor
