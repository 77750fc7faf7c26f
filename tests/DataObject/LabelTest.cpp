#include "DataObject/Label.h"

#include <gtest/gtest.h>

namespace synapsor {
namespace {

TEST(LabelTest, AddLabelSumsExactNamesAndKeepsFirstAppearanceOrder) {
    TLabelList list;
    list.AddLabel("class", 1.0);
    list.AddLabel("Class", 0.5);  // differs in case only: a label of its own
    list.AddLabel("weight", 0.25);
    const TLabelList copy(list);
    list.AddLabel("class", 1.0);  // found again: 1.0 + 1.0, order unchanged
    ASSERT_EQ(list.numLabels(), 3);
    EXPECT_EQ(list.labels[0].name, "class");
    EXPECT_DOUBLE_EQ(list.labels[0].value, 2.0);
    EXPECT_EQ(list.labels[1].name, "Class");
    EXPECT_DOUBLE_EQ(list.labels[1].value, 0.5);
    EXPECT_EQ(list.labels[2].name, "weight");
    EXPECT_DOUBLE_EQ(copy.labels[0].value, 1.0);  // a copy does not follow its source
}

}  // namespace
}  // namespace synapsor
