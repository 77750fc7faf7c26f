#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "Common/Exceptions.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ErrorObj.h"
#include "Training/TrainModule.h"
#include "NeuralNets/TrainerTestNets.h"

namespace synapsor {
namespace {

using namespace testnets;

double QuadValue(TErrorObj& e, int n, const double* w, double eps1, double eps2, double beta,
                 double scale) {
    auto penalty =
        Structure("QuadPenalty", {{"EPSILON1", eps1}, {"EPSILON2", eps2}, {"BETA", beta}});
    return e.CalcPenalty(n, w, penalty.get(), scale);
}

TEST(CalcPenalty, QuadPenaltyValues) {
    TErrorRMSObj e(1);
    const double w[3] = {0.5, -1.0, 2.0};
    // beta w^2 = 0.5, 2, 8: 0.1 * (0.5/1.5 + 2/3 + 8/9) + 0.01 * (0.25 + 1 + 4), times 3
    const double expected = 3 * (0.1 * (0.5 / 1.5 + 2.0 / 3.0 + 8.0 / 9.0) + 0.01 * 5.25);
    EXPECT_NEAR(QuadValue(e, 3, w, 0.1, 0.01, 2.0, 3.0), expected, 1e-14);
    // Only EPSILON2: plain decay, 0.01 w^2 per weight.
    EXPECT_NEAR(QuadValue(e, 3, w, 0.0, 0.01, 1.0, 1.0), 0.0525, 1e-15);
    TKQstructure empty("QUADPENALTY");
    EXPECT_EQ(e.CalcPenalty(3, w, &empty, 1.0), 0.0);
    TKQstructure none("none");
    EXPECT_EQ(e.CalcPenalty(3, w, &none, 1.0), 0.0);
    EXPECT_EQ(e.CalcPenalty(3, w, nullptr, 1.0), 0.0);
}

TEST(CalcPenalty, LWFValueAndMissingRates) {
    TErrorCrossEntropyObj e(1);
    const double w[3] = {0.5, -1.5, 0.0};
    auto lwf = Structure("LWF", {{"ForgettingRate", 0.005}, {"LearningRate", 0.5}});
    EXPECT_NEAR(e.CalcPenalty(3, w, lwf.get(), 1.0), 0.5 * 0.005 * 2.0, 1e-16);
    auto noRate = Structure("LWF", {{"FORGETTINGRATE", 0.005}});
    ExpectThrown([&] { e.CalcPenalty(3, w, noRate.get(), 1.0); },
                 "The LWF weight penalty needs LEARNINGRATE", "TErrorObj::CalcPenalty");
}

TEST(CalcPenaltyDeathTest, UnknownHeadIsFatal) {
    TErrorRMSObj e(1);
    const double w[1] = {1.0};
    TKQstructure typo("QUADPENALTI");
    EXPECT_DEATH(e.CalcPenalty(1, w, &typo, 1.0), "Assertion failed: false");
}

// Network with weight (0 -> 1) of 1->2 pruned, weight (0 -> 0) of 2->3 frozen and weight
// (1 -> 1) of 1->3 exactly 0.
std::unique_ptr<TBasicNetwork> PenaltyNet() {
    auto net = MakeNet(kTanh, kLinear);
    net->GetConnections(1, 2)->Prune(0, 1);
    net->GetConnections(2, 3)->SetUntrainable(0, 0);
    net->GetConnections(1, 3)->GetWeight(1, 1) = 0.0;
    return net;
}

bool IsSkipped(int f, int t, int from, int to) {
    return (f == 1 && t == 2 && from == 0 && to == 1) || (f == 2 && t == 3 && from == 0 && to == 0);
}

// Calls check(w, g) for every trainable weight of `net` and its cell in `module`'s gradient, and
// checks that the cells of the pruned and the frozen weight kept the values they had when the
// module was made (the gradient copy's frozen cell still holds the copied weight: only trainable
// cells are ever cleared or written).
template <class Check>
void ForEachTrainableCell(TBasicNetwork& net, TTrainModule& module, Check check) {
    EXPECT_EQ(W(*module.gradient, 1, 2, 0, 1), 0.0);
    EXPECT_EQ(W(*module.gradient, 2, 3, 0, 0), W(net, 2, 3, 0, 0));
    ForEachCell(net, [&](int f, int t, int from, int to) {
        if (!IsSkipped(f, t, from, to))
            check(W(net, f, t, from, to), W(*module.gradient, f, t, from, to));
    });
}

TEST(AddPenaltyGradient, QuadPenaltyIsTheDerivativeTimesRateAndShare) {
    auto net = PenaltyNet();
    TBackpropModule module(net.get());
    auto penalty =
        Structure("quadpenalty", {{"EPSILON1", 0.02}, {"EPSILON2", 0.01}, {"BETA", 1.5}});
    module.AddPenaltyGradient(penalty.get(), 1, 4, 0.5);
    // d/dw of 0.02 * 1.5 w^2 / (1.5 w^2 + 1) + 0.01 w^2 by central differences, times 0.5 / 4.
    auto value = [](double w) { return 0.02 * 1.5 * w * w / (1.5 * w * w + 1) + 0.01 * w * w; };
    const double h = 1e-6;
    int visited = 0;
    ForEachTrainableCell(*net, module, [&](double w, double g) {
        const double slope = (value(w + h) - value(w - h)) / (2 * h);
        EXPECT_NEAR(g, slope * 0.5 / 4, 1e-11) << "w = " << w;
        visited++;
    });
    EXPECT_EQ(visited, 14);  // 16 weights less the pruned and the frozen one

    // Three more quarter shares add up to one whole-pass call.
    for (int i = 0; i < 3; i++)
        module.AddPenaltyGradient(penalty.get(), 1, 4, 0.5);
    ForEachTrainableCell(*net, module, [&](double w, double g) {
        EXPECT_NEAR(g, (value(w + h) - value(w - h)) / (2 * h) * 0.5, 1e-11);
    });
}

TEST(AddPenaltyGradient, LWFAddsTheFullTermAtEveryCall) {
    auto net = PenaltyNet();
    TBackpropModule module(net.get());
    auto penalty = Structure("LWF", {{"FORGETTINGRATE", 0.005}, {"LEARNINGRATE", 0.5}});
    module.AddPenaltyGradient(penalty.get(), 1, 10, 0.5);  // the share 1/10 is not applied
    int zeros = 0;
    ForEachTrainableCell(*net, module, [&](double w, double g) {
        // sgn(w) * F * F / rate = sgn(w) * 0.005 * 0.01
        const double expected = w > 0 ? 5e-5 : (w < 0 ? -5e-5 : 0.0);
        EXPECT_NEAR(g, expected, 1e-18) << "w = " << w;
        if (w == 0.0) {
            EXPECT_EQ(g, 0.0);
            zeros++;
        }
    });
    EXPECT_EQ(zeros, 1);
}

TEST(AddPenaltyGradient, LWFWithoutForgettingRateOrWithRateZeroIsRejected) {
    auto net = PenaltyNet();
    TBackpropModule module(net.get());
    auto noRate = Structure("LWF", {{"LEARNINGRATE", 0.5}});
    ExpectThrown([&] { module.AddPenaltyGradient(noRate.get(), 1, 1, 0.5); },
                 "The LWF weight penalty needs FORGETTINGRATE", "TTrainModule::AddPenaltyGradient");
    auto lwf = Structure("LWF", {{"FORGETTINGRATE", 0.005}});
    ExpectThrown([&] { module.AddPenaltyGradient(lwf.get(), 1, 1, 0.0); },
                 "The LWF weight penalty needs a learning rate other than 0",
                 "TTrainModule::AddPenaltyGradient");
    ForEachTrainableCell(*net, module, [](double, double g) { EXPECT_EQ(g, 0.0); });
}

TEST(AddPenaltyGradientDeathTest, UnknownHeadIsFatal) {
    auto net = PenaltyNet();
    TBackpropModule module(net.get());
    TKQstructure typo("QUADPENATLY");
    EXPECT_DEATH(module.AddPenaltyGradient(&typo, 1, 1, 1.0), "Assertion failed: false");
}

}  // namespace
}  // namespace synapsor
