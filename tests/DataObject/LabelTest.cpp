#include "DataObject/Label.h"

#include <gtest/gtest.h>

#include <memory>

namespace synapsor {
namespace {

TEST(LabelTest, AddLabelSumsExactNamesAndKeepsFirstAppearanceOrder) {
    TLabelList list;
    list.AddLabel("class", 1.0);
    list.AddLabel("Class", 0.5);  // differs in case only: a label of its own
    list.AddLabel("weight", 0.25);
    list.AddLabel("class", 1.0);  // found again: 1.0 + 1.0, order unchanged
    ASSERT_EQ(list.numLabels(), 3);
    EXPECT_EQ(list.labels[0].name, "class");
    EXPECT_DOUBLE_EQ(list.labels[0].value, 2.0);
    EXPECT_EQ(list.labels[1].name, "Class");
    EXPECT_DOUBLE_EQ(list.labels[1].value, 0.5);
    EXPECT_EQ(list.labels[2].name, "weight");
}

TEST(LabelTest, AssignmentHandlesSelfAndEmptySources) {
    TLabelList list("a", 1.0);
    list.AddLabel("b", 2.0);
    list.AddLabel("c", 3.0);
    const TLabelList& same = list;
    list = same;
    ASSERT_EQ(list.numLabels(), 3);
    EXPECT_EQ(list.labels[2].name, "c");
    EXPECT_DOUBLE_EQ(list.labels[2].value, 3.0);
    list = TLabelList();
    EXPECT_EQ(list.numLabels(), 0);
}

TEST(LabelTest, CopiesStayUnchangedWhenTheSourceChangesOrGoes) {
    auto source = std::make_unique<TLabelList>("tag", 1.0);
    TLabelList copied(*source);
    TLabelList assigned;
    assigned = *source;
    source->AddLabel("tag", 4.0);
    source->AddLabel("other", 1.0);
    source->labels[0].name[0] = 'x';
    source.reset();
    for (const TLabelList* list : {&copied, &assigned}) {
        ASSERT_EQ(list->numLabels(), 1);
        EXPECT_EQ(list->labels[0].name, "tag");
        EXPECT_DOUBLE_EQ(list->labels[0].value, 1.0);
    }
}

}  // namespace
}  // namespace synapsor
