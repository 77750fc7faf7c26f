#include "Training/TrainKernel.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "Training/ReferenceTrainer.h"
#include "Training/TrainModule.h"

// Counts every allocation of this test program, to show that epochs after the first allocate
// nothing.
std::atomic<long> allocations{0};

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace synapsor {
namespace {

struct Case {
    const char* name;
    std::vector<int> sizes;  // input, hidden..., output
    ActFunction hidden;
    ActFunction output;
    double gain;  // != 1: hidden and output layers are gain layers
    double pruned;
    double frozen;
    bool skip;  // input layer also feeds the output layer
    double momentum;
    reference::Penalty penalty;
    bool batch;
    bool crossEntropy;
    int extraInputs;  // > 0: the data set has more columns and a feature selection
};

const Case kCases[] = {
    {"odd sizes, online",
     {7, 13, 5},
     ActSigmoid,
     ActSigmoid,
     1.0,
     0,
     0,
     false,
     0.0,
     reference::Penalty::None,
     false,
     false,
     0},
    {"odd sizes, batch",
     {7, 13, 5},
     ActSigmoid,
     ActLinear,
     1.0,
     0,
     0,
     false,
     0.0,
     reference::Penalty::None,
     true,
     false,
     0},
    {"pruned and frozen, momentum",
     {9, 21, 3},
     ActTanh,
     ActSigmoid,
     1.0,
     0.25,
     0.2,
     false,
     0.6,
     reference::Penalty::None,
     false,
     false,
     0},
    {"pruned and frozen, batch, quad",
     {9, 21, 3},
     ActTanh,
     ActSigmoid,
     1.0,
     0.3,
     0.1,
     true,
     0.4,
     reference::Penalty::Quad,
     true,
     false,
     0},
    {"gains, skip, two hidden",
     {6, 17, 11, 4},
     ActSigmoidGain,
     ActTanhGain,
     0.7,
     0.1,
     0.1,
     true,
     0.5,
     reference::Penalty::Quad,
     false,
     false,
     0},
    {"linear gain, LWF",
     {5, 33, 2},
     ActLinearGain,
     ActLinearGain,
     1.3,
     0,
     0,
     true,
     0.0,
     reference::Penalty::LWF,
     false,
     false,
     0},
    {"LWF batch with momentum",
     {5, 33, 2},
     ActTanh,
     ActLinear,
     1.0,
     0.2,
     0,
     false,
     0.3,
     reference::Penalty::LWF,
     true,
     false,
     0},
    {"cross-entropy, feature selection",
     {8, 19, 3},
     ActSigmoid,
     ActSigmoid,
     1.0,
     0.15,
     0.05,
     true,
     0.2,
     reference::Penalty::None,
     false,
     true,
     3},
    // Batch blocks: layers fed by two lower layers, gains, error terms summed from two layers
    // above, pruned and frozen weights, rows wider than a vector.
    {"gains, skip, two hidden, batch",
     {6, 17, 11, 4},
     ActSigmoidGain,
     ActTanhGain,
     0.7,
     0.1,
     0.1,
     true,
     0.5,
     reference::Penalty::Quad,
     true,
     false,
     0},
    {"cross-entropy, feature selection, batch",
     {8, 19, 3},
     ActSigmoid,
     ActSigmoid,
     1.0,
     0.15,
     0.05,
     true,
     0.0,
     reference::Penalty::None,
     true,
     true,
     3},
    {"wide rows, batch",
     {64, 40, 10},
     ActSigmoid,
     ActSigmoid,
     1.0,
     0.25,
     0,
     false,
     0.0,
     reference::Penalty::Quad,
     true,
     false,
     0},
    {"wide rows",
     {64, 40, 10},
     ActSigmoid,
     ActSigmoid,
     1.0,
     0.25,
     0,
     false,
     0.5,
     reference::Penalty::None,
     false,
     false,
     0},
};

std::unique_ptr<TBasicNetwork> MakeNet(const Case& c, std::mt19937* random) {
    const int n = static_cast<int>(c.sizes.size()) + 1;
    auto net = std::make_unique<TBasicNetwork>(n);
    net->SetLayer(0, new TSimpleLayer(net.get(), 0, 1));
    net->GetLayer(0)->SetActFunction(ActBias);
    net->SetLayer(1, new TSimpleInputLayer(net.get(), 1, c.sizes[0]));
    for (int i = 2; i < n; i++) {
        const int nodes = c.sizes[i - 1];
        TBasicLayer* layer =
            c.gain != 1.0 ? static_cast<TBasicLayer*>(new TGainLayer(net.get(), i, nodes, c.gain))
                          : new TSimpleLayer(net.get(), i, nodes);
        net->SetLayer(i, layer);
        layer->SetActFunction(i == n - 1 ? c.output : c.hidden);
        net->Connect(0, i);
        net->Connect(i - 1, i);
    }
    if (c.skip)
        net->Connect(1, n - 1);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> w(static_cast<std::size_t>(net->GetNumWeights(FMaskExists)));
    for (double& x : w)
        x = 1.2 * u(*random) - 0.6;
    net->SetWeights(w.data(), FMaskExists);
    for (int t = 2; t < n; t++) {
        for (int f = 0; f < t; f++) {
            TBasicConnections* conns = net->GetConnections(f, t);
            if (!conns->IsConnected())
                continue;
            for (int to = 0; to < net->GetLayer(t)->numNodes; to++) {
                for (int from = 0; from < net->GetLayer(f)->numNodes; from++) {
                    const double draw = u(*random);
                    if (draw < c.pruned)
                        conns->Prune(from, to);
                    else if (draw < c.pruned + c.frozen)
                        conns->SetUntrainable(from, to);
                }
            }
        }
    }
    return net;
}

std::unique_ptr<Data> MakeData(const Case& c, int rows, std::mt19937* random) {
    const int inputs = c.sizes.front() + c.extraInputs;
    const int outputs = c.sizes.back();
    auto data = std::make_unique<Data>(rows, inputs, outputs, false);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<double> in(static_cast<std::size_t>(inputs));
    std::vector<double> out(static_cast<std::size_t>(outputs));
    for (int r = 0; r < rows; r++) {
        for (double& x : in)
            x = u(*random);
        for (double& y : out)
            y = c.crossEntropy || c.output == ActSigmoid ? (u(*random) + 1.0) / 2.0 : u(*random);
        data->AppendRow(in.data(), out.data(), nullptr);
    }
    if (c.extraInputs > 0) {
        // Every other column, then the rest, so the selection reorders as well as drops.
        std::vector<int> cols;
        for (int k = inputs - 1; k >= 0 && static_cast<int>(cols.size()) < c.sizes.front(); k -= 2)
            cols.push_back(k);
        for (int k = 0; static_cast<int>(cols.size()) < c.sizes.front(); k += 2)
            cols.push_back(k);
        data->SetInputFeatures(static_cast<int>(cols.size()), cols.data());
    }
    return data;
}

std::unique_ptr<TKQstructure> MakeParams(const Case& c, reference::Params* ref) {
    auto params = std::make_unique<TKQstructure>("Params");
    ref->learningRate = 0.15;
    ref->momentum = c.momentum;
    ref->batch = c.batch;
    ref->crossEntropy = c.crossEntropy;
    ref->penalty = c.penalty;
    params->SetNumber("LEARNINGRATE", ref->learningRate);
    params->SetNumber("MOMENTUM", ref->momentum);
    params->SetBoolean("BATCH", c.batch);
    params->SetString("ERRORFUNCTION", c.crossEntropy ? "CROSSENTROPY" : "MEANSQUAREDERROR");
    auto penalty = std::make_unique<TKQstructure>("NONE");
    if (c.penalty == reference::Penalty::Quad) {
        ref->epsilon1 = 0.03;
        ref->epsilon2 = 0.002;
        ref->beta = 1.7;
        penalty = std::make_unique<TKQstructure>("QUADPENALTY");
        penalty->SetNumber("EPSILON1", ref->epsilon1);
        penalty->SetNumber("EPSILON2", ref->epsilon2);
        penalty->SetNumber("BETA", ref->beta);
    } else if (c.penalty == reference::Penalty::LWF) {
        ref->forgettingRate = 0.001;
        penalty = std::make_unique<TKQstructure>("LWF");
        penalty->SetNumber("FORGETTINGRATE", ref->forgettingRate);
        penalty->SetNumber("LEARNINGRATE", ref->learningRate);
    }
    params->SetValue("WEIGHTPENALTY", std::move(penalty));
    return params;
}

std::uint64_t Bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

std::vector<std::uint64_t> WeightBits(TBasicNetwork& net) {
    std::vector<double> w(static_cast<std::size_t>(net.GetNumWeights(FMaskExists)));
    net.GetWeights(w.data(), FMaskExists);
    std::vector<std::uint64_t> bits;
    for (double x : w)
        bits.push_back(Bits(x));
    return bits;
}

// Trains one case with the trainer and with the reference loop; every epoch's error and every
// weight afterwards must be the same bits. Returns the final weights.
std::vector<std::uint64_t> RunCase(const Case& c, int rows) {
    std::mt19937 random(12345);
    auto net = MakeNet(c, &random);
    auto data = MakeData(c, rows, &random);
    TBasicNetwork copy(*net);
    reference::Params ref;
    auto params = MakeParams(c, &ref);
    TBackpropModule module(net.get());
    reference::Trainer reference(&copy);
    TErrorRMSObj rms(c.sizes.back());
    TErrorCrossEntropyObj crossEntropy(c.sizes.back());
    TErrorObj* error = c.crossEntropy ? static_cast<TErrorObj*>(&crossEntropy) : &rms;
    for (int epoch = 0; epoch < 4; epoch++) {
        const double got = module.TrainEpoch(data.get(), params.get());
        const double want =
            reference.Epoch(data.get(), ref, error, params->FindValue("WEIGHTPENALTY"));
        EXPECT_EQ(Bits(got), Bits(want)) << "epoch " << epoch << ": " << got << " vs " << want;
    }
    const std::vector<std::uint64_t> bits = WeightBits(*net);
    EXPECT_EQ(bits, WeightBits(copy));
    for (int layer = 0; layer < net->GetNumLayers(); layer++) {
        std::vector<std::uint64_t> got, want;
        for (double x : module.gradient->GetLayer(layer)->values)
            got.push_back(Bits(x));
        for (double x : reference.Errors()[layer])
            want.push_back(Bits(x));
        EXPECT_EQ(got, want) << "error terms of layer " << layer;
    }
    // Online: the last pattern's gradient; batch: the pass's sums with the penalty. Cells of
    // weights that are not trained keep whatever they held.
    std::vector<std::uint64_t> gotG, wantG;
    const std::vector<double> refG = reference.Gradient();
    std::size_t at = 0;
    for (int f = 0; f < net->GetNumLayers(); f++)
        for (int t = 0; t < net->GetNumLayers(); t++) {
            TBasicConnections* g = module.gradient->GetConnections(f, t);
            if (!g->IsConnected())
                continue;
            const TWeightStorage s = g->GetStorage();
            const TWeightStorage w = net->GetConnections(f, t)->GetStorage();
            for (std::size_t i = 0; i < static_cast<std::size_t>(s.nFrom) * s.nTo; i++, at++) {
                if (w.masks != nullptr && (w.masks[i] & FMaskAll) != FMaskAll)
                    continue;
                gotG.push_back(Bits(s.weights[i]));
                wantG.push_back(Bits(refG.at(at)));
            }
        }
    EXPECT_EQ(at, refG.size());
    EXPECT_EQ(gotG, wantG) << "gradient copy";
    EXPECT_NE(bits, WeightBits(*MakeNet(c, &random))) << "training changed nothing";
    return bits;
}

TEST(TrainKernel, EveryCaseTakesTheKernel) {
    for (const Case& c : kCases) {
        std::mt19937 random(12345);
        auto net = MakeNet(c, &random);
        TBasicNetwork gradient(*net);
        TBasicNetwork lastChange(*net);
        TTrainPlan plan;
        EXPECT_TRUE(BuildTrainPlan(net.get(), &gradient, &lastChange, c.crossEntropy, &plan))
            << c.name;
        EXPECT_TRUE(plan.blockable) << c.name << ": batch passes run in blocks";
    }
}

TEST(TrainKernel, SameBitsAsThePlainLoopOnEveryVectorTarget) {
    std::vector<std::vector<std::uint64_t>> first;
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(hwy::TargetName(target));
        // Batch passes run in blocks of patterns: a pass shorter than a block, whole blocks
        // only, and blocks with patterns left over.
        const int kRows[] = {5, 2 * static_cast<int>(kTrainBlock), 23};
        std::size_t at = 0;
        for (const Case& c : kCases) {
            for (int rows : kRows) {
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(rows) + " patterns");
                const std::vector<std::uint64_t> bits = RunCase(c, rows);
                if (first.size() <= at)
                    first.push_back(bits);
                else
                    EXPECT_EQ(bits, first[at]) << "differs from the first target";
                at++;
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

TEST(TrainKernel, EpochsAfterTheFirstAllocateNothing) {
    for (const Case& c : kCases) {
        if (c.extraInputs > 0)
            continue;  // the data set hands out a copy of its feature selection per epoch
        SCOPED_TRACE(c.name);
        std::mt19937 random(3);
        auto net = MakeNet(c, &random);
        auto data = MakeData(c, 9, &random);
        reference::Params ref;
        auto params = MakeParams(c, &ref);
        TBackpropModule module(net.get());
        const long start = allocations.load();
        module.TrainEpoch(data.get(), params.get());
        const long before = allocations.load();
        EXPECT_GT(before, start) << "the first epoch sets up its plan";
        module.TrainEpoch(data.get(), params.get());
        module.TrainEpoch(data.get(), params.get());
        EXPECT_EQ(allocations.load(), before);
    }
}

// ---- groups of patterns, Rprop and Adam ----

struct RuleCase {
    const char* name;
    reference::Rule rule;
    const char* word;  // "ALGORITHM"; null: the key is absent
    int batchSize;     // "BATCHSIZE"; 0: absent; -1: the pass's row count
    bool batch;        // "BATCH"
};

const RuleCase kRuleCases[] = {
    {"backprop, groups of 3", reference::Rule::Backprop, nullptr, 3, false},
    {"backprop, groups of 8", reference::Rule::Backprop, "backprop", 8, false},
    {"rprop, whole passes", reference::Rule::Rprop, "rprop", 0, false},
    {"rprop, groups of 4", reference::Rule::Rprop, "RPROP", 4, false},
    {"adam, online", reference::Rule::Adam, "adam", 0, false},
    {"adam, groups of 5", reference::Rule::Adam, "adam", 5, false},
    {"adam, batch", reference::Rule::Adam, "adam", 0, true},
    {"adam, one group", reference::Rule::Adam, "adam", -1, false},
};

// Trains case c under rule case r with the trainer and the reference for five epochs: every
// epoch's error and the weights must be the same bits.
std::vector<std::uint64_t> RunRuleCase(const Case& c, const RuleCase& r, int rows) {
    std::mt19937 random(777);
    auto net = MakeNet(c, &random);
    auto data = MakeData(c, rows, &random);
    TBasicNetwork copy(*net);
    reference::Params ref;
    auto params = MakeParams(c, &ref);
    ref.rule = r.rule;
    ref.batch = r.batch || (r.rule == reference::Rule::Rprop && r.batchSize == 0);
    ref.batchSize = r.batchSize < 0 ? rows : r.batchSize;
    params->SetBoolean("BATCH", r.batch);
    if (r.word != nullptr)
        params->SetString("ALGORITHM", r.word);
    if (ref.batchSize > 0)
        params->SetNumber("BATCHSIZE", ref.batchSize);
    if (r.rule == reference::Rule::Adam) {
        ref.learningRate = 0.01;
        ref.beta1 = 0.8;
        ref.beta2 = 0.99;
        ref.epsilon = 1e-7;
        params->SetString("LEARNINGRATE", "0.01");
        params->SetString("BETA1", "0.8");
        params->SetString("BETA2", "0.99");
        params->SetString("EPSILON", "1e-7");
    } else if (r.rule == reference::Rule::Rprop) {
        ref.firstStep = ref.learningRate;
    }
    TBackpropModule module(net.get());
    reference::Trainer reference(&copy);
    TErrorRMSObj rms(c.sizes.back());
    TErrorCrossEntropyObj crossEntropy(c.sizes.back());
    TErrorObj* error = c.crossEntropy ? static_cast<TErrorObj*>(&crossEntropy) : &rms;
    for (int epoch = 0; epoch < 5; epoch++) {
        const double got = module.TrainEpoch(data.get(), params.get());
        const double want =
            reference.Epoch(data.get(), ref, error, params->FindValue("WEIGHTPENALTY"));
        EXPECT_EQ(Bits(got), Bits(want)) << "epoch " << epoch << ": " << got << " vs " << want;
    }
    const std::vector<std::uint64_t> bits = WeightBits(*net);
    EXPECT_EQ(bits, WeightBits(copy));
    EXPECT_NE(bits, WeightBits(*MakeNet(c, &random))) << "training changed nothing";
    return bits;
}

TEST(TrainKernel, GroupsRpropAndAdamMatchThePlainLoopOnEveryVectorTarget) {
    std::vector<std::vector<std::uint64_t>> first;
    for (int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(hwy::TargetName(target));
        std::size_t at = 0;
        for (const Case& c : kCases) {
            for (const RuleCase& r : kRuleCases) {
                for (int rows : {7, 23}) {
                    SCOPED_TRACE(std::string(c.name) + ", " + r.name + ", " + std::to_string(rows) +
                                 " patterns");
                    const std::vector<std::uint64_t> bits = RunRuleCase(c, r, rows);
                    if (first.size() <= at)
                        first.push_back(bits);
                    else
                        EXPECT_EQ(bits, first[at]) << "differs from the first target";
                    at++;
                }
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

// Groups of one pattern are the online pass, one group of every pattern (or more) the batch
// pass, byte for byte, with momentum and either penalty.
TEST(TrainKernel, GroupsOfOneAreOnlineAndOneGroupIsBatch) {
    for (const Case& c : kCases) {
        for (int rows : {5, 19}) {
            for (int size : {1, rows, rows + 4}) {
                const bool batch = size != 1;
                SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(rows) +
                             " rows, groups of " + std::to_string(size));
                std::vector<std::uint64_t> weights[2];
                std::vector<std::uint64_t> errors[2];
                for (int grouped = 0; grouped < 2; grouped++) {
                    std::mt19937 random(99);
                    auto net = MakeNet(c, &random);
                    auto data = MakeData(c, rows, &random);
                    reference::Params ref;
                    auto params = MakeParams(c, &ref);
                    params->SetBoolean("BATCH", grouped == 0 && batch);
                    if (grouped == 1)
                        params->SetNumber("BATCHSIZE", size);
                    TBackpropModule module(net.get());
                    for (int epoch = 0; epoch < 3; epoch++)
                        errors[grouped].push_back(
                            Bits(module.TrainEpoch(data.get(), params.get())));
                    weights[grouped] = WeightBits(*net);
                }
                EXPECT_EQ(errors[0], errors[1]);
                EXPECT_EQ(weights[0], weights[1]);
            }
        }
    }
}

// Shuffled passes: the trainer and the reference read the rows in the same given order.
TEST(TrainKernel, ShuffledPassesReadTheGivenOrder) {
    const Case& c = kCases[2];
    for (bool batch : {false, true}) {
        std::mt19937 random(5);
        auto net = MakeNet(c, &random);
        auto data = MakeData(c, 11, &random);
        TBasicNetwork copy(*net);
        TBasicNetwork plain(*net);
        reference::Params ref;
        auto params = MakeParams(c, &ref);
        ref.batch = batch;
        params->SetBoolean("BATCH", batch);
        TBackpropModule module(net.get());
        TBackpropModule inOrder(&plain);
        reference::Trainer reference(&copy);
        TErrorRMSObj rms(c.sizes.back());
        const std::vector<int> order = {3, 0, 10, 7, 1, 9, 2, 8, 4, 6, 5};
        module.SetPassOrder(order);
        reference.order = order;
        for (int epoch = 0; epoch < 3; epoch++) {
            EXPECT_EQ(
                Bits(module.TrainEpoch(data.get(), params.get())),
                Bits(reference.Epoch(data.get(), ref, &rms, params->FindValue("WEIGHTPENALTY"))));
            inOrder.TrainEpoch(data.get(), params.get());
        }
        EXPECT_EQ(WeightBits(*net), WeightBits(copy));
        EXPECT_NE(WeightBits(*net), WeightBits(plain)) << "the order made no difference";
    }
}

// The plan sees matrices that the trainer's copies do not share, and declines them.
TEST(TrainKernel, PlanDeclinesNetworksThatDoNotMatchTheirCopies) {
    std::mt19937 random(1);
    auto net = MakeNet(kCases[0], &random);
    TBasicNetwork gradient(*net);
    TBasicNetwork lastChange(*net);
    TTrainPlan plan;
    ASSERT_TRUE(BuildTrainPlan(net.get(), &gradient, &lastChange, false, &plan));
    gradient.Disconnect(1, 2);
    gradient.Connect(2, 3);
    EXPECT_FALSE(BuildTrainPlan(net.get(), &gradient, &lastChange, false, &plan));
    TBasicNetwork fresh(*net);
    fresh.GetLayer(3)->SetActFunction(ActLinear);
    EXPECT_FALSE(BuildTrainPlan(net.get(), &fresh, &lastChange, true, &plan))
        << "cross-entropy needs sigmoid outputs";
}

}  // namespace
}  // namespace synapsor
