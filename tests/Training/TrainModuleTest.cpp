#include "Training/TrainModule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/ConnectedConnections.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/PrunedConnections.h"
#include "NeuralNets/TrainerTestNets.h"

namespace synapsor {
namespace {

using namespace testnets;

const LayerKind kKinds[] = {
    {"linear", ActLinear, false},           {"linear-gain", ActLinearGain, true},
    {"sigmoid", ActSigmoid, false},         {"tanh", ActTanh, false},
    {"sigmoid-gain", ActSigmoidGain, true}, {"tanh-gain", ActTanhGain, true},
};

void ExpectNear(const std::vector<double>& actual, const std::vector<double>& expected,
                double tolerance) {
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); i++)
        EXPECT_NEAR(actual[i], expected[i], tolerance) << i;
}

// One online step on one pattern (w - 0.3 dE/dw), or one batch pass over three patterns (one
// update by the summed gradient).
TEST(TrainEpoch, OnlineStepAndBatchPassFollowTheNumericGradientForEveryDerivative) {
    for (const LayerKind& kind : kKinds) {
        for (bool batch : {false, true}) {
            SCOPED_TRACE(std::string(kind.name) + (batch ? " batch" : " online"));
            const std::vector<Pattern> patterns =
                batch ? Patterns() : std::vector<Pattern>{Patterns()[0]};
            TKQstructure params("Params");
            params.SetNumber("LearningRate", 0.3);
            if (batch)
                params.SetString("Batch", "true");
            auto net = MakeNet(kind, kind);
            TBasicNetwork reference(*net);
            TBackpropModule module(net.get());
            auto data = MakeData(patterns);
            EXPECT_DOUBLE_EQ(module.TrainEpoch(data.get(), &params),
                             ReferencePass(reference, patterns, 0.3, batch));
            ExpectNear(Weights(*net), Weights(reference), 1e-8);
        }
    }
}

TEST(TrainEpoch, OnlinePassUpdatesAfterEveryPatternWithQuadPenaltyShare) {
    const std::vector<Pattern> patterns = Patterns();
    auto net = MakeNet(kTanh, kSigmoid);
    TBasicNetwork reference(*net);
    TBackpropModule module(net.get());
    auto data = MakeData(patterns);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.4);
    params.SetValue(
        "WEIGHTPENALTY",
        Structure("QUADPENALTY", {{"EPSILON1", 0.02}, {"EPSILON2", 0.01}, {"BETA", 1.5}}));

    // Penalty value and its derivative written out by hand; the gradient term is rate * share
    // times the derivative.
    auto value = [](double w) { return 0.02 * 1.5 * w * w / (1.5 * w * w + 1) + 0.01 * w * w; };
    auto slope = [](double w) {
        return 2 * w * (0.02 * 1.5 / ((1 + 1.5 * w * w) * (1 + 1.5 * w * w)) + 0.01);
    };
    PenaltyDerivative term = [&](double w, double share) { return 0.4 * share * slope(w); };
    const double plainError = ReferencePass(reference, patterns, 0.4, false, term);
    double penaltySum = 0.0;
    for (double w : Weights(reference))
        penaltySum += value(w);
    // RMS with the penalty inside the root: sqrt((squares + P) / 2 outputs / 3 patterns).
    const double expected = std::sqrt(plainError * plainError + penaltySum / 2 / 3);

    EXPECT_NEAR(module.TrainEpoch(data.get(), &params), expected, 1e-12);
    ExpectNear(Weights(*net), Weights(reference), 1e-8);
}

TEST(TrainEpoch, BatchPassWithLWFMovesEachWeightByTheFullTerm) {
    const std::vector<Pattern> patterns = Patterns();
    auto net = MakeNet(kTanh, kLinear);
    TBasicNetwork reference(*net);
    TBackpropModule module(net.get());
    auto data = MakeData(patterns);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.5);
    params.SetBoolean("BATCH", true);
    params.SetValue("WEIGHTPENALTY",
                    Structure("LWF", {{"FORGETTINGRATE", 0.005}, {"LEARNINGRATE", 0.5}}));

    // sgn(w) * F * F / rate, whatever the share: the update moves each weight by F^2 = 2.5e-5.
    PenaltyDerivative term = [](double w, double) {
        return (w > 0 ? 1.0 : (w < 0 ? -1.0 : 0.0)) * 0.005 * 0.01;
    };
    const double plainError = ReferencePass(reference, patterns, 0.5, true, term);
    double absSum = 0.0;
    for (double w : Weights(reference))
        absSum += std::fabs(w);
    const double expected = std::sqrt(plainError * plainError + 0.5 * 0.005 * absSum / 2 / 3);

    EXPECT_NEAR(module.TrainEpoch(data.get(), &params), expected, 1e-12);
    ExpectNear(Weights(*net), Weights(reference), 1e-8);
}

TEST(TrainEpoch, WithoutLearningRateNothingChangesButTheErrorCountsAndNoneIsInsertedOnce) {
    const std::vector<Pattern> patterns = Patterns();
    auto net = MakeNet(kSigmoid, kSigmoid);
    const std::vector<double> before = Weights(*net, 1);
    TBackpropModule module(net.get());
    auto data = MakeData(patterns);
    TKQstructure params("Params");
    params.SetString("Momentum", "0.9");

    // Targets against the untouched network's outputs: sqrt(sum of squares / 2 / 3).
    double squares = 0.0;
    for (const Pattern& p : patterns) {
        const std::vector<double> o = Outputs(*net, p);
        for (int k = 0; k < 2; k++)
            squares += (p.target[k] - o[k]) * (p.target[k] - o[k]);
    }
    EXPECT_DOUBLE_EQ(module.TrainEpoch(data.get(), &params), std::sqrt(squares / 2 / 3));
    EXPECT_EQ(Weights(*net, 1), before);
    ASSERT_EQ(params.GetCount(), 2);
    EXPECT_STREQ(params.GetKeyword(1), "WEIGHTPENALTY");
    EXPECT_STREQ(params.GetEntryValue(1)->GetHead(), "NONE");
    EXPECT_TRUE(params.GetEntryValue(1)->IsLeaf());

    EXPECT_DOUBLE_EQ(module.TrainEpoch(data.get(), &params), std::sqrt(squares / 2 / 3));
    EXPECT_EQ(params.GetCount(), 2);  // the leaf is reused, not inserted again

    TKQstructure lower("Params");
    lower.SetString("weightPenalty", "none");
    module.TrainEpoch(data.get(), &lower);
    EXPECT_EQ(lower.GetCount(), 1);
}

TEST(UpdateWeights, MomentumFirstAndSecondChange) {
    auto net = MakeNet(kLinear, kLinear);
    TBackpropModule module(net.get());
    const std::vector<double> w0 = Weights(*net);
    std::vector<double> g1(w0.size()), g2(w0.size());
    for (size_t i = 0; i < w0.size(); i++) {
        g1[i] = 0.1 * static_cast<double>(i) - 0.7;
        g2[i] = 0.3 - 0.05 * static_cast<double>(i);
    }
    TKQstructure params("Params");
    params.SetString("learningrate", "0.5");
    params.SetString("momentum", "0.5");

    module.gradient->SetWeights(g1.data(), 0);
    module.UpdateWeights(&params);
    std::vector<double> first(w0.size()), w1(w0.size());
    for (size_t i = 0; i < w0.size(); i++) {
        first[i] = -0.5 * g1[i];  // -(0.5 g) + 0.5 * 0
        w1[i] = w0[i] + first[i];
    }
    EXPECT_EQ(Weights(*module.lastChange), first);
    EXPECT_EQ(Weights(*net), w1);

    module.gradient->SetWeights(g2.data(), 0);
    module.UpdateWeights(&params);
    std::vector<double> second(w0.size()), w2(w0.size());
    for (size_t i = 0; i < w0.size(); i++) {
        second[i] = -(0.5 * g2[i]) + 0.5 * first[i];
        w2[i] = w1[i] + second[i];
    }
    EXPECT_EQ(Weights(*module.lastChange), second);
    EXPECT_EQ(Weights(*net), w2);
}

TEST(UpdateWeights, MomentumZeroLeavesLastChangeAtZero) {
    auto net = MakeNet(kLinear, kLinear);
    TBackpropModule module(net.get());
    const std::vector<double> w0 = Weights(*net);
    std::vector<double> g(w0.size(), 0.25);
    module.gradient->SetWeights(g.data(), 0);
    module.ApplyWeightChanges(0.4, 0.0);
    for (size_t i = 0; i < w0.size(); i++)
        EXPECT_EQ(Weights(*net)[i], w0[i] - 0.4 * 0.25);
    EXPECT_EQ(Weights(*module.lastChange), std::vector<double>(w0.size(), 0.0));
}

TEST(TrainPattern, CrossEntropyDeltasHaveNoDerivativeFactor) {
    auto net = MakeNet(kTanh, kSigmoid);
    TBasicNetwork reference(*net);
    TBackpropModule module(net.get());
    const Pattern p = Patterns()[1];
    TErrorCrossEntropyObj error(2);
    module.TrainPattern(p.in.data(), p.target.data(), CrossEntropy, &error);

    const std::vector<double> o = Outputs(reference, p);
    const double* deltas = module.gradient->GetLayer(3)->values.data();
    EXPECT_EQ(deltas[0], o[0] - p.target[0]);
    EXPECT_EQ(deltas[1], o[1] - p.target[1]);
    EXPECT_NEAR(error.GetError(), PatternError(reference, p, true), 1e-15);
    // The gradient is that of the cross-entropy itself.
    std::vector<double> g = Weights(*module.gradient);
    ExpectNear(g, NumericGradient(reference, p, true), 1e-8);
}

TEST(TrainPatternDeathTest, CrossEntropyNeedsSigmoidOutputs) {
    auto net = MakeNet(kSigmoid, kTanh);
    TBackpropModule module(net.get());
    const Pattern p = Patterns()[0];
    EXPECT_DEATH(module.TrainPattern(p.in.data(), p.target.data(), CrossEntropy, nullptr),
                 "Assertion failed: fn == ActSigmoid");
}

TEST(TrainPatternDeathTest, SaturatedLinearHiddenLayerStopsBackPropagation) {
    auto net = MakeNet({"saturated-linear", ActSaturatedLinear, false}, kLinear);
    TBackpropModule module(net.get());
    const Pattern p = Patterns()[0];
    EXPECT_DEATH(module.TrainPattern(p.in.data(), p.target.data(), MeanSquaredError, nullptr),
                 "Assertion failed: fn != ActError");
}

TEST(TrainPatternDeathTest, MixedFunctionsInALayerAreFatal) {
    auto net = MakeNet(kTanh, kLinear);
    net->GetLayer(2)->GetNeuron(1)->SetActFunction(ActSigmoid);
    TBackpropModule module(net.get());
    const Pattern p = Patterns()[0];
    EXPECT_DEATH(module.TrainPattern(p.in.data(), p.target.data(), MeanSquaredError, nullptr),
                 "Assertion failed: fn!= NULL");
}

TEST(TrainEpoch, FrozenAndPrunedWeightsStayAndCarryNoError) {
    auto net = MakeNet(kTanh, kLinear);
    net->GetConnections(1, 2)->Prune(1, 1);           // input 1 -> hidden 1 removed
    net->GetConnections(2, 3)->SetUntrainable(0, 0);  // hidden 0 -> both outputs frozen:
    net->GetConnections(2, 3)->SetUntrainable(0, 1);  // no error reaches hidden 0
    TBasicNetwork reference(*net);
    TBackpropModule module(net.get());
    const Pattern p = Patterns()[2];
    auto data = MakeData({p});
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.3);
    module.TrainEpoch(data.get(), &params);

    ForEachCell(reference, [&](int f, int t, int from, int to) {
        SCOPED_TRACE(std::to_string(f) + "->" + std::to_string(t) + " " + std::to_string(from) +
                     "," + std::to_string(to));
        const double old = W(reference, f, t, from, to);
        const bool intoDeafHidden = t == 2 && to == 0;
        if (!reference.GetConnections(f, t)->IsTrainable(from, to) || intoDeafHidden) {
            EXPECT_EQ(W(*net, f, t, from, to), old);
        } else {
            const double d = NumericDerivative(reference, f, t, from, to, p, false);
            EXPECT_NEAR(W(*net, f, t, from, to), old - 0.3 * d, 1e-9);
        }
    });
    EXPECT_EQ(net->GetConnections(1, 2)->GetFlags(1, 1), 0);
    EXPECT_EQ(net->GetConnections(2, 3)->GetFlags(0, 1), FMaskExists);
    // Hidden 0's incoming weights had a gradient the frozen weights kept from it.
    EXPECT_NE(NumericDerivative(reference, 1, 2, 0, 0, p, false), 0.0);
}

// A pruneable matrix that hides its storage, so that the trainer takes the visitor route.
class TNoStorageConnections : public TPrunedConnections {
  public:
    using TPrunedConnections::TPrunedConnections;
    TWeightStorage GetStorage() override { return TWeightStorage(); }
};

TEST(TrainEpoch, DirectLoopsAndVisitorRouteGiveIdenticalWeights) {
    auto direct = MakeNet(kTanh, {"sigmoid-gain", ActSigmoidGain, true});
    direct->GetConnections(1, 3)->Prune(0, 1);
    direct->GetConnections(0, 2)->SetUntrainable(0, 1);
    direct->GetConnections(1, 3)->GetWeight(1, 0) = 0.0;
    const std::vector<double> initial = Weights(*direct, 1);
    TBasicNetwork visited(*direct);
    ForEachCell(*direct, [&](int f, int t, int from, int to) {
        if (from == 0 && to == 0)
            visited.SetConnections(f, t, new TNoStorageConnections(&visited, f, t));
        TBasicConnections* src = direct->GetConnections(f, t);
        visited.GetConnections(f, t)->SetFlags(from, to, src->GetFlags(from, to));
        W(visited, f, t, from, to) = src->GetWeight(from, to);
    });
    auto data = MakeData(Patterns());
    TBackpropModule a(direct.get());
    TBackpropModule b(&visited);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.7);
    params.SetNumber("MOMENTUM", 0.6);
    params.SetValue("WEIGHTPENALTY",
                    Structure("QUADPENALTY", {{"EPSILON1", 0.03}, {"EPSILON2", 0.02}}));
    for (int epoch = 0; epoch < 3; epoch++) {
        EXPECT_EQ(a.TrainEpoch(data.get(), &params), b.TrainEpoch(data.get(), &params));
    }
    params.SetValue("WEIGHTPENALTY",
                    Structure("LWF", {{"FORGETTINGRATE", 0.01}, {"LEARNINGRATE", 0.7}}));
    params.SetString("BATCH", "TRUE");
    params.SetNumber("MOMENTUM", 0.0);
    for (int epoch = 0; epoch < 2; epoch++) {
        EXPECT_EQ(a.TrainEpoch(data.get(), &params), b.TrainEpoch(data.get(), &params));
    }
    // Groups of rows, in a given order, with momentum.
    params.SetString("BATCH", "FALSE");
    params.SetNumber("MOMENTUM", 0.4);
    params.SetInteger("BATCHSIZE", 2);
    std::vector<int> order(static_cast<std::size_t>(data->MbrNdxRows));
    for (std::size_t i = 0; i < order.size(); i++)
        order[i] = static_cast<int>(order.size() - 1 - i);
    a.SetPassOrder(order);
    b.SetPassOrder(order);
    for (int epoch = 0; epoch < 2; epoch++) {
        EXPECT_EQ(a.TrainEpoch(data.get(), &params), b.TrainEpoch(data.get(), &params));
    }
    EXPECT_EQ(Weights(*direct, 1), Weights(visited, 1));
    EXPECT_EQ(Weights(*a.lastChange, 1), Weights(*b.lastChange, 1));
    EXPECT_NE(Weights(*direct, 1), initial);
    // The new rules run only in the kernel: the visitor route refuses them, changing nothing.
    params.SetString("ALGORITHM", "ADAM");
    const std::vector<double> before = Weights(visited, 1);
    EXPECT_THROW(b.TrainEpoch(data.get(), &params), TException);
    EXPECT_EQ(Weights(visited, 1), before);
    a.TrainEpoch(data.get(), &params);
    EXPECT_NE(Weights(*direct, 1), before);
}

// A matrix replaced by one of another class after the trainer copied the network no longer
// pairs with its copies: the direct loops must stop like the visitor binding does.
TEST(TrainEpochDeathTest, MatrixTypeChangedAfterCopyingIsFatal) {
    auto net = MakeNet(kTanh, kLinear);
    TBackpropModule module(net.get());
    net->SetConnections(1, 2, new TConnectedConnections(net.get(), 1, 2));
    const char* check = "conn1 -> GetConnectionsNType\\(\\) == conn2 -> GetConnectionsNType\\(\\)";
    EXPECT_DEATH(module.ApplyWeightChanges(0.1, 0.0), check);
    EXPECT_DEATH(module.ApplyWeightChanges(0.1, 0.5), check);
    const Pattern p = Patterns()[0];
    EXPECT_DEATH(module.TrainPattern(p.in.data(), p.target.data(), MeanSquaredError, nullptr),
                 check);
}

TEST(TrainToThreshold, StopsAtTheFirstPassBelowTheThreshold) {
    auto net = MakeNet(kTanh, kLinear);
    TBasicNetwork reference(*net);
    TBackpropModule module(net.get());
    auto data = MakeData(Patterns());
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.1);
    params.SetNumber("THRESHOLD", 100.0);
    int epochs = 5;
    const double error = module.TrainToThreshold(data.get(), &params, &epochs);
    EXPECT_EQ(epochs, 0);  // the index of the pass that fell below
    EXPECT_NEAR(error, ReferencePass(reference, Patterns(), 0.1, false), 1e-10);
    ExpectNear(Weights(*net), Weights(reference), 1e-8);

    params.SetNumber("THRESHOLD", 0.0);
    epochs = 2;
    module.TrainToThreshold(data.get(), &params, &epochs);
    EXPECT_EQ(epochs, 2);
    ReferencePass(reference, Patterns(), 0.1, false);
    ReferencePass(reference, Patterns(), 0.1, false);
    ExpectNear(Weights(*net), Weights(reference), 1e-8);
}

// Bad input: what was thrown, with the network and the parameter structure untouched.
class TrainEpochBadInput : public ::testing::Test {
  protected:
    void ExpectRejected(Data* data, const char* message) {
        const std::vector<double> before = Weights(*net, 1);
        const int entries = params.GetCount();
        ExpectThrown([&] { module.TrainEpoch(data, &params); }, message,
                     "TTrainModule::TrainEpoch");
        EXPECT_EQ(Weights(*net, 1), before);
        EXPECT_EQ(params.GetCount(), entries);
    }

    std::unique_ptr<TBasicNetwork> net = MakeNet(kTanh, kLinear);
    TBackpropModule module{net.get()};
    TKQstructure params{"Params"};
};

TEST_F(TrainEpochBadInput, InputsOrOutputsThatDoNotFitTheNetwork) {
    params.SetNumber("LEARNINGRATE", 0.1);
    Data wide(2, 3, 2, false);
    const double in[3] = {0.1, 0.2, 0.3};
    const double out[3] = {0.5, 0.5, 0.5};
    wide.AppendRow(in, out, nullptr);
    ExpectRejected(&wide,
                   "The data set delivers 3 inputs per row but the network's input layer has 2 "
                   "neurons");
    const int one[1] = {2};
    wide.SetInputFeatures(1, one);
    ExpectRejected(&wide,
                   "The data set delivers 1 selected inputs per row but the network's input "
                   "layer has 2 neurons");
    const int two[2] = {2, 0};
    wide.SetInputFeatures(2, two);
    EXPECT_NO_THROW(module.TrainEpoch(&wide, &params));  // two selected columns fit

    Data narrow(1, 2, 3, false);
    narrow.AppendRow(in, out, nullptr);
    ExpectRejected(&narrow,
                   "The data set has 3 outputs per row but the network's output layer has 2 "
                   "neurons");
}

TEST_F(TrainEpochBadInput, EmptyDataSetAndIncompleteLWF) {
    Data empty(4, 2, 2, false);
    ExpectRejected(&empty, "The training data set holds no rows");
    Data none(0, 2, 2, false);
    ExpectRejected(&none, "The training data set holds no rows");
    ExpectRejected(nullptr, "Null data pointer");

    auto data = MakeData(Patterns());
    params.SetValue("WEIGHTPENALTY", Structure("LWF", {{"LEARNINGRATE", 0.5}}));
    ExpectRejected(data.get(), "The LWF weight penalty needs FORGETTINGRATE");
    params.FindValue("WEIGHTPENALTY")->RemoveValue("LEARNINGRATE");
    params.FindValue("WEIGHTPENALTY")->SetNumber("FORGETTINGRATE", 0.005);
    ExpectRejected(data.get(), "The LWF weight penalty needs LEARNINGRATE");
    params.FindValue("WEIGHTPENALTY")->SetNumber("LEARNINGRATE", 0.5);
    params.SetNumber("LEARNINGRATE", 0.0);
    ExpectRejected(data.get(), "The LWF weight penalty needs a learning rate other than 0");
}

}  // namespace
}  // namespace synapsor
