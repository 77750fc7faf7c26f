#include "NeuralNets/ErrorObj.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <typeinfo>

#include "NeuralNets/TrainerTestNets.h"

namespace synapsor {
namespace {

TEST(ErrorRMSObj, RootOfSquaresOverOutputsAndPatterns) {
    TErrorRMSObj e(2);
    const double t[2] = {0.0, 1.0};
    const double o[2] = {0.5, 0.5};
    e.AddPattern(t, o);
    EXPECT_DOUBLE_EQ(e.GetError(), 0.5);  // sqrt((0.25 + 0.25) / 2 / 1)
    const double t2[2] = {1.0, 1.0};
    const double o2[2] = {0.0, 1.0};
    e.AddPattern(t2, o2);
    EXPECT_EQ(e.numPatterns, 2);
    EXPECT_DOUBLE_EQ(e.GetError(), std::sqrt(1.5 / 2 / 2));  // (0.5 + 1) / 2 outputs / 2 patterns
    e.Reset();
    EXPECT_EQ(e.numPatterns, 0);
    EXPECT_EQ(e.sum, 0.0);
}

TEST(ErrorRMSObj, PenaltySitsInsideTheRoot) {
    TErrorRMSObj e(1);
    const double t[1] = {0.3};
    e.AddPattern(t, t);
    TKQstructure penalty("QUADPENALTY");
    penalty.SetNumber("EPSILON2", 0.01);
    const double weights[1] = {2.0};  // 0.01 * 2^2 = 0.04
    e.AddPenalty(1, weights, &penalty);
    EXPECT_NEAR(e.GetError(), 0.2, 1e-15);  // sqrt(0.04 / 1 / 1)
}

TEST(ErrorRMSObj, NoPatternsIsReportedNotNan) {
    TErrorRMSObj e(2);
    ExpectThrown([&] { e.GetError(); }, "No patterns to compute the RMS error over",
                 "TErrorRMSObj::GetError");
    TErrorRMSObj none(0);
    none.AddPattern(nullptr, nullptr);
    EXPECT_THROW(none.GetError(), TException);
}

TEST(ErrorCrossEntropyObj, PlainSumWithoutAveraging) {
    TErrorCrossEntropyObj e(1);
    const double t[1] = {1.0};
    const double o[1] = {0.5};
    e.AddPattern(t, o);
    EXPECT_NEAR(e.GetError(), 0.693147, 1e-6);  // -ln 0.5
    e.AddPattern(t, o);
    EXPECT_DOUBLE_EQ(e.GetError(), 2 * std::log(2.0));
    TErrorCrossEntropyObj two(2);
    const double t2[2] = {0.25, 0.0};
    const double o2[2] = {0.8, 0.1};
    two.AddPattern(t2, o2);
    // -0.25 ln 0.8 - 0.75 ln 0.2, then -ln 0.9
    EXPECT_DOUBLE_EQ(two.GetError(), -0.25 * std::log(0.8) - 0.75 * std::log(0.2) - std::log(0.9));
}

TEST(ErrorCrossEntropyObj, SaturatedOutputsFollowTheFixedRule) {
    TErrorCrossEntropyObj e(4);
    const double t[4] = {0.0, 1.0, 0.5, 0.0};
    const double o[4] = {1.0, 1.0, 0.0, 0.0};
    e.AddPattern(t, o);
    // 1e6 (o = 1, t = 0) + 0 (o = 1, t = 1) + 1e6 (o = 0, t = 0.5) + 0 (o = 0, t = 0)
    EXPECT_EQ(e.GetError(), 2000000.0);
    EXPECT_EQ(e.numPatterns, 1);
}

TEST(ErrorCrossEntropyObj, OutputOutsideZeroToOneIsRejectedUnchanged) {
    TErrorCrossEntropyObj e(2);
    const double t[2] = {1.0, 0.0};
    const double o[2] = {0.5, 1.5};
    ExpectThrown([&] { e.AddPattern(t, o); },
                 "Cross-entropy needs outputs between 0 and 1; output 1 lies outside",
                 "TErrorCrossEntropyObj::AddPattern");
    EXPECT_EQ(e.sum, 0.0);
    EXPECT_EQ(e.numPatterns, 0);
    const double nan[2] = {0.5, std::nan("")};
    EXPECT_THROW(e.AddPattern(t, nan), TException);
}

TEST(ErrorCrossEntropyObj, PenaltyAddsToTheSum) {
    TErrorCrossEntropyObj e(1);
    auto penalty = testnets::Structure("lwf", {{"FORGETTINGRATE", 0.5}, {"LEARNINGRATE", 0.25}});
    const double weights[3] = {1.0, -2.0, 0.0};
    e.AddPenalty(3, weights, penalty.get());
    EXPECT_DOUBLE_EQ(e.GetError(), 0.375);  // 0.25 * 0.5 * (1 + 2 + 0)
}

// Partial sums of a pass split in two, merged, give the pass's error and pattern count (up to the
// rounding of a different order of additions).
TEST(ErrorObjMerge, PartialSumsMergeToTheWholePass) {
    const double targets[4][2] = {{0.0, 1.0}, {1.0, 1.0}, {0.5, 0.0}, {1.0, 0.0}};
    const double outputs[4][2] = {{0.5, 0.5}, {0.75, 1.0}, {0.5, 0.25}, {0.5, 0.5}};
    std::unique_ptr<TErrorObj> kinds[] = {std::make_unique<TErrorRMSObj>(2),
                                          std::make_unique<TErrorCrossEntropyObj>(2)};
    for (const auto& whole : kinds) {
        const TErrorObj& kind = *whole;
        SCOPED_TRACE(typeid(kind).name());
        std::unique_ptr<TErrorObj> first = whole->NewEmpty();
        std::unique_ptr<TErrorObj> second = whole->NewEmpty();
        ASSERT_TRUE(first && second);
        const TErrorObj& made = *first;
        EXPECT_EQ(typeid(made), typeid(kind));
        for (int p = 0; p < 4; p++) {
            whole->AddPattern(targets[p], outputs[p]);
            (p < 1 ? first : second)->AddPattern(targets[p], outputs[p]);
        }
        first->Merge(*second);
        EXPECT_EQ(first->numPatterns, 4);
        EXPECT_DOUBLE_EQ(first->GetError(), whole->GetError());
    }
}

TEST(ErrorObjMerge, KindsAndSizesThatDifferAreAnInternalFault) {
    TErrorRMSObj rms(2);
    TErrorCrossEntropyObj crossEntropy(2);
    TErrorRMSObj narrow(1);
    EXPECT_DEATH(rms.Merge(crossEntropy), "Assertion failed");
    EXPECT_DEATH(rms.Merge(narrow), "Assertion failed");
}

}  // namespace
}  // namespace synapsor
