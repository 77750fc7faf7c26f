// Batch passes split over threads and processes: the chunks partition every pass; any number of
// threads, and any number of processes (simulated here by trainers on threads of their own, each
// holding only its rows, combining through an in-memory reducer that merges in a different order
// on every process), gives the same bits epoch after epoch; those bits stay within rounding of
// the plain pass; and what cannot be split is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Layers.h"
#include "Training/BinnedSum.h"
#include "Training/ParallelPass.h"
#include "Training/TrainModule.h"

namespace synapsor {
namespace {

TEST(PassChunks, PartitionEveryPassIntoChunksOfOneBatchAndOneProcess) {
    struct Case {
        int rows, batchSize, processes;
    };
    const Case cases[] = {{1, 0, 1},      {4, 0, 3},    {128, 0, 2}, {129, 0, 2},  {2000, 0, 3},
                          {2000, 100, 3}, {300, 64, 4}, {300, 7, 2}, {130, 200, 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.rows) + " rows, batches of " + std::to_string(c.batchSize) +
                     ", " + std::to_string(c.processes) + " processes");
        std::vector<int> owner(static_cast<std::size_t>(c.rows), -1);
        const std::vector<TPassChunk> all = PassChunks(c.rows, c.batchSize);
        for (int p = 0; p < c.processes; p++) {
            const std::vector<TPassChunk> chunks = PassChunks(c.rows, c.batchSize, p, c.processes);
            ASSERT_EQ(chunks.size(), all.size());
            const std::vector<int> rows = ProcessRows(c.rows, c.batchSize, p, c.processes);
            int expectFirst = 0;
            for (std::size_t g = 0; g < chunks.size(); g++) {
                const TPassChunk& k = chunks[g];
                EXPECT_EQ(k.first, expectFirst);
                expectFirst += k.count;
                EXPECT_TRUE(k.count >= 1 && k.count <= kChunkRows);
                const int per = c.batchSize > 0 ? c.batchSize : c.rows;
                EXPECT_EQ(k.batch, k.first / per);
                EXPECT_EQ(k.batch, (k.first + k.count - 1) / per);  // never across batches
                EXPECT_EQ(k.local >= 0, static_cast<int>(g) % c.processes == p);
                for (int i = 0; k.local >= 0 && i < k.count; i++) {
                    ASSERT_LT(static_cast<std::size_t>(k.local + i), rows.size());
                    EXPECT_EQ(rows[static_cast<std::size_t>(k.local + i)], k.first + i);
                    EXPECT_EQ(owner[static_cast<std::size_t>(k.first + i)], -1);
                    owner[static_cast<std::size_t>(k.first + i)] = p;
                }
            }
            EXPECT_EQ(expectFirst, c.rows);
        }
        EXPECT_EQ(std::count(owner.begin(), owner.end(), -1), 0);
    }
}

// Processes simulated in one: each member's Combine waits for all, then merges every member's
// cells into its own, starting from its own and going round, so each merges in another order.
class LoopbackHub {
  public:
    explicit LoopbackHub(int members) : slots(static_cast<std::size_t>(members)) {}

    class Member : public TPassReducer {
      public:
        Member(LoopbackHub* hub, int index) : hub(hub), index(index) {}
        void Combine(double* cells, std::size_t count) override {
            hub->Combine(index, cells, count);
        }

      private:
        LoopbackHub* hub;
        int index;
    };

    void Combine(int index, double* cells, std::size_t count) {
        const std::size_t n = count * kBinnedCellDoubles;
        std::unique_lock<std::mutex> lock(mutex);
        slots[static_cast<std::size_t>(index)].assign(cells, cells + n);
        Wait(lock);
        const std::size_t members = slots.size();
        for (std::size_t k = 1; k < members; k++)
            MergeBinnedCells(slots[(static_cast<std::size_t>(index) + k) % members].data(), cells,
                             count);
        Wait(lock);  // nobody refills a slot before every member has read them all
    }

  private:
    void Wait(std::unique_lock<std::mutex>& lock) {
        const std::uint64_t round = rounds;
        if (++arrived == static_cast<int>(slots.size())) {
            arrived = 0;
            rounds++;
            turn.notify_all();
        } else {
            turn.wait(lock, [&] { return rounds != round; });
        }
    }

    std::mutex mutex;
    std::condition_variable turn;
    std::vector<std::vector<double>> slots;
    int arrived = 0;
    std::uint64_t rounds = 0;
};

struct Case {
    const char* name;
    std::vector<int> sizes;  // inputs, two hidden layers, outputs
    int rows;
    bool batch;
    int batchSize;
    const char* algorithm;
    const char* penalty;  // NONE, QUADPENALTY, LWF
    double momentum;
    bool crossEntropy;
};

// clang-format off
const Case kCases[] = {
    {"full batch, momentum, quadratic penalty", {7, 9, 5, 3}, 700, true, 0, "BACKPROP", "QUADPENALTY", 0.6, false},
    {"mini-batches, LWF", {6, 8, 6, 2}, 1000, false, 300, "BACKPROP", "LWF", 0.3, false},
    {"mini-batches smaller than a chunk", {5, 7, 4, 2}, 150, false, 20, "BACKPROP", "NONE", 0.5, false},
    {"rprop over whole passes, cross-entropy", {6, 10, 6, 3}, 600, true, 0, "RPROP", "NONE", 0.0, true},
    {"adam, mini-batches, quadratic penalty", {8, 12, 6, 4}, 1300, false, 600, "ADAM", "QUADPENALTY", 0.0, false},
};
// clang-format on

constexpr int kEpochs = 6;

std::unique_ptr<TBasicNetwork> MakeNet(const Case& c) {
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int n = static_cast<int>(c.sizes.size()) + 1;
    auto net = std::make_unique<TBasicNetwork>(n);
    net->SetLayer(0, new TSimpleLayer(net.get(), 0, 1));
    net->GetLayer(0)->SetActFunction(ActBias);
    net->SetLayer(1, new TSimpleInputLayer(net.get(), 1, c.sizes[0]));
    for (int i = 2; i < n; i++) {
        net->SetLayer(i, new TSimpleLayer(net.get(), i, c.sizes[static_cast<std::size_t>(i - 1)]));
        net->GetLayer(i)->SetActFunction(i == n - 1 ? ActSigmoid : ActTanh);
        net->Connect(0, i);
        net->Connect(i - 1, i);
    }
    std::vector<double> w(static_cast<std::size_t>(net->GetNumWeights(FMaskExists)));
    for (double& x : w)
        x = 1.2 * u(random) - 0.6;
    net->SetWeights(w.data(), FMaskExists);
    // Some weights pruned, some frozen.
    for (int t = 2; t < n; t++) {
        for (int f = 0; f < t; f++) {
            TBasicConnections* conns = net->GetConnections(f, t);
            if (!conns->IsConnected())
                continue;
            for (int to = 0; to < net->GetLayer(t)->numNodes; to++)
                for (int from = 0; from < net->GetLayer(f)->numNodes; from++) {
                    const double draw = u(random);
                    if (draw < 0.1)
                        conns->Prune(from, to);
                    else if (draw < 0.2)
                        conns->SetUntrainable(from, to);
                }
        }
    }
    return net;
}

// The pass positions `positions` of the case's rows (all of them when empty).
std::unique_ptr<Data> MakeData(const Case& c, const std::vector<int>* positions) {
    std::mt19937 random(23);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int inputs = c.sizes.front();
    const int outputs = c.sizes.back();
    std::vector<std::vector<double>> rows;
    for (int r = 0; r < c.rows; r++) {
        std::vector<double> row(static_cast<std::size_t>(inputs + outputs));
        for (int k = 0; k < inputs; k++)
            row[static_cast<std::size_t>(k)] = u(random) * (k % 3 == 0 ? 40.0 : 1.0);
        for (int k = 0; k < outputs; k++)
            row[static_cast<std::size_t>(inputs + k)] = (u(random) + 1.0) / 2.0;
        rows.push_back(row);
    }
    const int held = positions ? static_cast<int>(positions->size()) : c.rows;
    auto data = std::make_unique<Data>(std::max(held, 1), inputs, outputs, false);
    for (int i = 0; i < held; i++) {
        const std::vector<double>& row = rows[static_cast<std::size_t>(
            positions ? (*positions)[static_cast<std::size_t>(i)] : i)];
        data->AppendRow(row.data(), row.data() + inputs, nullptr);
    }
    return data;
}

std::unique_ptr<TKQstructure> MakeParams(const Case& c) {
    auto params = std::make_unique<TKQstructure>("Params");
    params->SetString("ALGORITHM", c.algorithm);
    params->SetNumber("LEARNINGRATE", std::strcmp(c.algorithm, "ADAM") == 0 ? 0.01 : 0.1);
    params->SetNumber("MOMENTUM", c.momentum);
    params->SetBoolean("BATCH", c.batch);
    if (c.batchSize > 0)
        params->SetInteger("BATCHSIZE", c.batchSize);
    params->SetString("ERRORFUNCTION", c.crossEntropy ? "CROSSENTROPY" : "MEANSQUAREDERROR");
    auto penalty = std::make_unique<TKQstructure>(c.penalty);
    if (std::strcmp(c.penalty, "QUADPENALTY") == 0) {
        penalty->SetNumber("EPSILON1", 0.03);
        penalty->SetNumber("EPSILON2", 0.002);
        penalty->SetNumber("BETA", 1.7);
    } else if (std::strcmp(c.penalty, "LWF") == 0) {
        penalty->SetNumber("FORGETTINGRATE", 0.001);
        penalty->SetNumber("LEARNINGRATE", 0.1);
    }
    params->SetValue("WEIGHTPENALTY", std::move(penalty));
    return params;
}

// Every epoch's error and the final weights, as bits.
struct Outcome {
    std::vector<std::uint64_t> errors;
    std::vector<std::uint64_t> weights;
    std::vector<double> errorValues;
};

std::uint64_t Bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

// Trains the case for kEpochs epochs as process `process` of `setup.processes` (the data set
// then holds its rows alone); setup.threads 0: the plain pass, without SetParallel.
Outcome Train(const Case& c, TParallelSetup setup) {
    std::unique_ptr<TBasicNetwork> net = MakeNet(c);
    std::vector<int> positions;
    if (setup.processes > 1) {
        positions = ProcessRows(c.rows, c.batch ? 0 : c.batchSize, setup.process, setup.processes);
        setup.passRows = c.rows;
    }
    std::unique_ptr<Data> data = MakeData(c, setup.processes > 1 ? &positions : nullptr);
    if (setup.processes > 1 && positions.empty())
        data = std::make_unique<Data>(1, c.sizes.front(), c.sizes.back(), false);
    std::unique_ptr<TKQstructure> params = MakeParams(c);
    TBackpropModule trainer(net.get());
    if (setup.threads > 0)
        trainer.SetParallel(setup);
    Outcome out;
    for (int e = 0; e < kEpochs; e++) {
        const double error = trainer.TrainEpoch(data.get(), params.get());
        out.errors.push_back(Bits(error));
        out.errorValues.push_back(error);
    }
    std::vector<double> w(static_cast<std::size_t>(net->GetNumWeights(FMaskExists)));
    net->GetWeights(w.data(), FMaskExists);
    for (double x : w)
        out.weights.push_back(Bits(x));
    return out;
}

TEST(ParallelTrain, AnyThreadsAndProcessesGiveTheSameBits) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TParallelSetup one;
        const Outcome reference = Train(c, one);
        for (int threads : {2, 3, 8}) {
            SCOPED_TRACE("threads " + std::to_string(threads));
            TParallelSetup setup;
            setup.threads = threads;
            const Outcome got = Train(c, setup);
            EXPECT_EQ(got.errors, reference.errors);
            EXPECT_EQ(got.weights, reference.weights);
        }
        for (int processes : {2, 3, 7}) {
            for (int threads : {1, 2}) {
                SCOPED_TRACE(std::to_string(processes) + " processes of " +
                             std::to_string(threads) + " threads");
                LoopbackHub hub(processes);
                std::vector<std::unique_ptr<LoopbackHub::Member>> members;
                std::vector<Outcome> outcomes(static_cast<std::size_t>(processes));
                std::vector<std::thread> runs;
                for (int p = 0; p < processes; p++) {
                    members.push_back(std::make_unique<LoopbackHub::Member>(&hub, p));
                    TParallelSetup setup;
                    setup.threads = threads;
                    setup.process = p;
                    setup.processes = processes;
                    setup.reducer = members.back().get();
                    runs.emplace_back(
                        [&, p, setup] { outcomes[static_cast<std::size_t>(p)] = Train(c, setup); });
                }
                for (std::thread& t : runs)
                    t.join();
                for (const Outcome& got : outcomes) {
                    EXPECT_EQ(got.errors, reference.errors);
                    EXPECT_EQ(got.weights, reference.weights);
                }
            }
        }
    }
}

TEST(ParallelTrain, StaysWithinRoundingOfThePlainPass) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TParallelSetup plain;
        plain.threads = 0;
        const Outcome expected = Train(c, plain);
        TParallelSetup split;
        split.threads = 3;
        const Outcome got = Train(c, split);
        // The first pass starts from the same weights: only the order of its sums differs. Later
        // passes start from weights that already differ in their last bits, which training may
        // magnify a little; a lost or doubled chunk would show at once in either.
        for (int e = 0; e < kEpochs; e++) {
            const double want = expected.errorValues[static_cast<std::size_t>(e)];
            const double tolerance = e == 0 ? 1e-13 : 1e-6;
            EXPECT_NEAR(got.errorValues[static_cast<std::size_t>(e)], want, tolerance * want)
                << "epoch " << e + 1;
        }
    }
}

TEST(ParallelTrain, RefusesWhatCannotBeSplit) {
    const Case online = {"online", {3, 4, 3, 1}, 40, false, 0, "BACKPROP", "NONE", 0.0, false};
    std::unique_ptr<TBasicNetwork> net = MakeNet(online);
    std::unique_ptr<Data> data = MakeData(online, nullptr);
    std::unique_ptr<TKQstructure> params = MakeParams(online);
    TBackpropModule trainer(net.get());
    TParallelSetup two;
    two.threads = 2;
    trainer.SetParallel(two);
    try {
        trainer.TrainEpoch(data.get(), params.get());
        ADD_FAILURE() << "online training on two threads was accepted";
    } catch (const TException& e) {
        EXPECT_NE(std::string(e.GetMessage()).find("needs batch training"), std::string::npos)
            << e.GetMessage();
    }
    // One thread online is the plain online pass.
    TBackpropModule alone(net.get());
    TParallelSetup one;
    alone.SetParallel(one);
    EXPECT_NO_THROW(alone.TrainEpoch(data.get(), params.get()));
}

}  // namespace
}  // namespace synapsor
