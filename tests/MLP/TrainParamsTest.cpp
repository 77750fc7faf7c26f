#include "MLP/Common/TrainParams.h"

#include <gtest/gtest.h>

namespace synapsor {

namespace {

TEST(TrainParamsTest, DefaultsGiveRateAndMomentumOnly) {
    EXPECT_EQ(BuildParams(TrainSettings())->ToText(),
              "(Params :LearningRate 0.500000 :Momentum 0.500000)");
}

TEST(TrainParamsTest, ForgettingAndBatchAddTheirEntriesInOrder) {
    TrainSettings s;
    s.LWF = true;
    s.Batch = true;
    s.LearningRate = 0.1f;  // widened: 0.100000001490116..., six decimals 0.100000
    EXPECT_EQ(BuildParams(s)->ToText(),
              "(Params :LearningRate 0.100000 :Momentum 0.500000 :WeightPenalty (LWF "
              ":ForgettingRate 0.005000 :LearningRate 0.100000) :batch true)");
}

TEST(TrainParamsTest, SinglePrecisionIsVisibleAndTinyRatesBecomeZero) {
    TrainSettings s;
    s.LearningRate = 0.0000001f;
    s.Momentum = 0.3333333f;  // float nearest is 0.333333313..., six decimals 0.333333
    // Float spacing near 1000 is 2^-14; 1000.0001 becomes 1000 + 2 * 2^-14 = 1000.0001220703125.
    s.ForgettingRate = 1000.0001f;
    s.LWF = true;
    const auto p = BuildParams(s);
    EXPECT_STREQ(p->GetValue("LearningRate")->GetHead(), "0.000000");
    EXPECT_STREQ(p->GetValue("Momentum")->GetHead(), "0.333333");
    EXPECT_STREQ(p->GetValue("WeightPenalty")->GetValue("ForgettingRate")->GetHead(),
                 "1000.000122");
}

}  // namespace

}  // namespace synapsor
