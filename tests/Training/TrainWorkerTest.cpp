// Workers: a batch pass split over two workers, each over half of the rows with its own partial
// gradient and error, gives after merging the sums of the two halves taken one after the other,
// and neither worker touches the network, the gradient copy or the error of the pass.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/MLPNetwork.h"
#include "Training/TrainKernel.h"

namespace synapsor {
namespace {

std::vector<std::uint64_t> Bits(TBasicNetwork& net) {
    std::vector<double> w(static_cast<std::size_t>(net.GetNumWeights(FMaskExists)));
    net.GetWeights(w.data(), FMaskExists);
    std::vector<std::uint64_t> bits(w.size());
    std::memcpy(bits.data(), w.data(), w.size() * sizeof(double));
    return bits;
}

struct Rig {
    std::unique_ptr<TMLPNetwork> net;
    std::unique_ptr<TBasicNetwork> gradient;
    std::unique_ptr<TBasicNetwork> lastChange;
    std::unique_ptr<Data> data;
    TTrainPlan plan;
};

void Make(const std::vector<int>& sizes, int rows, Rig* s) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> u(-0.5, 0.5);
    s->net = std::make_unique<TMLPNetwork>(static_cast<int>(sizes.size()), sizes.data(), true);
    std::vector<double> w(static_cast<std::size_t>(s->net->GetNumWeights(FMaskExists)));
    for (double& x : w)
        x = u(random);
    s->net->SetWeights(w.data(), FMaskExists);
    s->gradient = std::make_unique<TBasicNetwork>(*s->net);
    s->gradient->RandomizeWeights(0.0, 0.0);
    s->lastChange = std::make_unique<TBasicNetwork>(*s->net);
    s->lastChange->RandomizeWeights(0.0, 0.0);
    s->data = std::make_unique<Data>(rows, sizes.front(), sizes.back(), false);
    std::vector<double> in(static_cast<std::size_t>(sizes.front()));
    std::vector<double> out(static_cast<std::size_t>(sizes.back()));
    for (int r = 0; r < rows; r++) {
        for (double& x : in)
            x = u(random);
        for (double& x : out)
            x = u(random) + 0.5;
        s->data->AppendRow(in.data(), out.data(), nullptr);
    }
    ASSERT_TRUE(
        BuildTrainPlan(s->net.get(), s->gradient.get(), s->lastChange.get(), false, &s->plan));
}

// The gradient copy after one shared worker's batch share over `count` rows from `first`.
std::vector<double> SharedShare(Rig& s, const TLearnParams& p, int first, int count,
                                TErrorRMSObj* error) {
    s.gradient->RandomizeWeights(0.0, 0.0);
    TTrainWorker w;
    SetUpWorker(s.plan, s.data->MbrNdxInputs, s.data->MbrNdxOutputs, true, error, &w);
    RunBatchRows(s.plan, w, p, s.data.get(), s.data->MbrNdxLast, first, count, false, error);
    std::vector<double> g(static_cast<std::size_t>(s.gradient->GetNumWeights(FMaskExists)));
    s.gradient->GetWeights(g.data(), FMaskExists);
    return g;
}

TEST(TrainWorker, TwoWorkersOverTheHalvesMergeToTheHalvesSums) {
    struct Case {
        const char* name;
        std::vector<int> sizes;
        int rows;
        int split;
    };
    const Case cases[] = {
        {"blocks and leftovers in both halves", {5, 7, 3}, 21, 10},
        {"a half shorter than a block", {4, 9, 6, 2}, 13, 3},
        {"whole blocks only", {3, 4, 2}, 32, 16},
    };
    TLearnParams p;
    p.batch = true;
    p.learningRate = 0.3;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig s;
        Make(c.sizes, c.rows, &s);
        const int outputs = c.sizes.back();
        // The reference: each half alone through the shared worker, then the two sums added.
        TErrorRMSObj errA(outputs), errB(outputs);
        const std::vector<double> gA = SharedShare(s, p, 0, c.split, &errA);
        const std::vector<double> gB = SharedShare(s, p, c.split, c.rows - c.split, &errB);
        std::vector<std::uint64_t> want(gA.size());
        for (std::size_t i = 0; i < gA.size(); i++) {
            const double sum = 0.0 + gA[i] + gB[i];
            std::memcpy(&want[i], &sum, sizeof sum);
        }

        s.gradient->RandomizeWeights(0.0, 0.0);
        const std::vector<std::uint64_t> weights = Bits(*s.net);
        const std::vector<std::uint64_t> zero = Bits(*s.gradient);
        TErrorRMSObj pass(outputs);
        TTrainWorker first, second;
        SetUpWorker(s.plan, c.sizes.front(), outputs, false, &pass, &first);
        SetUpWorker(s.plan, c.sizes.front(), outputs, false, &pass, &second);
        const int start = s.data->MbrNdxLast;
        RunBatchRows(s.plan, second, p, s.data.get(), start, c.split, c.rows - c.split, true,
                     &pass);
        RunBatchRows(s.plan, first, p, s.data.get(), start, 0, c.split, false, &pass);
        EXPECT_EQ(Bits(*s.net), weights) << "a worker changed the weights";
        EXPECT_EQ(Bits(*s.gradient), zero) << "a worker wrote the gradient copy";
        EXPECT_EQ(pass.numPatterns, 0) << "a worker added to the pass's error";
        EXPECT_TRUE(second.holdsLast);
        EXPECT_FALSE(first.holdsLast);

        MergeWorker(s.plan, first, &pass);
        MergeWorker(s.plan, second, &pass);
        EXPECT_EQ(Bits(*s.gradient), want);
        EXPECT_EQ(pass.numPatterns, c.rows);
        EXPECT_EQ(pass.sum, errA.sum + errB.sum);
    }
}

// The span form of every built-in function gives the bits of its neuron form, at ordinary,
// extreme and undefined net inputs, with and without a gain.
TEST(ActivateSpan, SameBitsAsTheNeuronFunctions) {
    const ActFunction functions[] = {ActBias, ActLinear,     ActSaturatedLinear, ActSigmoid,
                                     ActTanh, ActLinearGain, ActSigmoidGain,     ActTanhGain};
    const double nets[] = {0.0,    -0.0,   0.37,  -2.5,   1.0,         1.5,
                           -499.0, -501.0, 800.0, -800.0, std::nan("")};
    const int n = static_cast<int>(sizeof nets / sizeof nets[0]);
    for (ActFunction fn : functions) {
        const TActivationKind kind = GetActivationKind(fn);
        ASSERT_NE(kind, TActivationKind::Other);
        for (double gain : {1.0, 0.5, -3.0}) {
            std::vector<double> span(static_cast<std::size_t>(n));
            ASSERT_TRUE(ActivateSpan(kind, nets, span.data(), n, [gain](int) { return gain; }));
            for (int k = 0; k < n; k++) {
                double cell = 0.0;
                TGainNeuron neuron;
                neuron.gain = gain;
                neuron.output = &cell;
                fn(&neuron, nets[k]);
                std::uint64_t a = 0, b = 0;
                std::memcpy(&a, &cell, sizeof a);
                std::memcpy(&b, &span[static_cast<std::size_t>(k)], sizeof b);
                EXPECT_EQ(a, b) << "net " << nets[k] << ", gain " << gain;
            }
        }
    }
    double out = 7.0;
    const double net = 1.0;
    EXPECT_FALSE(ActivateSpan(GetActivationKind(ActError), &net, &out, 1, [](int) { return 1.0; }));
    EXPECT_EQ(out, 7.0) << "a function without a span form leaves the outputs alone";
}

// The trainer keeps its plan while PlanStillFits holds: any change the plan depends on must end
// it, and nothing else may. (A matrix freed and made anew at the same addresses with the same
// contents leaves the plan right, and may fit.)
TEST(TrainPlanCache, EveryChangeThePlanDependsOnEndsIt) {
    struct Case {
        const char* name;
        bool fits;
        std::function<void(Rig&, bool*)> change;
    };
    const Case cases[] = {
        {"nothing", true, [](Rig&, bool*) {}},
        {"new weights", true, [](Rig& s, bool*) { s.net->RandomizeWeights(-1.0, 1.0); }},
        {"a weight pruned", false, [](Rig& s, bool*) { s.net->GetConnections(2, 3)->Prune(1, 0); }},
        {"a weight frozen", false,
         [](Rig& s, bool*) { s.net->GetConnections(1, 2)->SetFlags(0, 1, FMaskExists); }},
        {"another function", false,
         [](Rig& s, bool*) { s.net->GetLayer(2)->SetActFunction(ActTanh); }},
        {"the copy's function", false,
         [](Rig& s, bool*) { s.gradient->GetLayer(3)->SetActFunction(ActLinear); }},
        {"a skip pair connected", false, [](Rig& s, bool*) { s.net->Connect(1, 3); }},
        {"a neuron deleted", false, [](Rig& s, bool*) { s.net->DeleteNode(2, 1); }},
        {"cross-entropy", false, [](Rig&, bool* crossEntropy) { *crossEntropy = true; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig s;
        Make({3, 4, 2}, 9, &s);
        bool crossEntropy = false;
        ASSERT_TRUE(PlanStillFits(s.net.get(), s.gradient.get(), s.lastChange.get(), false,
                                  TUpdateRuleKind::Backprop, &s.plan));
        c.change(s, &crossEntropy);
        EXPECT_EQ(PlanStillFits(s.net.get(), s.gradient.get(), s.lastChange.get(), crossEntropy,
                                TUpdateRuleKind::Backprop, &s.plan),
                  c.fits);
    }
}

}  // namespace
}  // namespace synapsor
