// Times a batch epoch of a 784-256-10 perceptron over 2,000 rows (the size of a digits-like
// image set), and of 64-256-10 and 784-1024-10 for the cluster model, three ways: the plain pass
// (one thread, the rows summed in order), the same pass cut into chunks with reproducible sums on
// one thread (what Threads = 1 costs against the plain pass), and on 2 and more threads (what the
// threads gain). Wall-clock time: the threads' work does not show in the calling thread's CPU time.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/MLPNetwork.h"
#include "Training/ParallelPass.h"
#include "Training/TrainModule.h"

namespace synapsor {
namespace {

constexpr int kRows = 2000;

std::unique_ptr<Data> MakeRows(int rows, int inputs, int outputs) {
    std::mt19937 random(3);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto data = std::make_unique<Data>(rows, inputs, outputs, false);
    std::vector<double> in(static_cast<size_t>(inputs));
    std::vector<double> out(static_cast<size_t>(outputs));
    for (int r = 0; r < rows; r++) {
        for (double& x : in)
            x = u(random);
        for (int k = 0; k < outputs; k++)
            out[static_cast<size_t>(k)] = k == r % outputs ? 1.0 : 0.0;
        data->AppendRow(in.data(), out.data(), nullptr);
    }
    return data;
}

// range(0): 0 the plain pass, otherwise the threads of a split pass; range(1), range(2): the
// inputs and hidden neurons (10 outputs).
void BM_BatchEpoch(benchmark::State& state) {
    const int threads = static_cast<int>(state.range(0));
    const int sizes[3] = {static_cast<int>(state.range(1)), static_cast<int>(state.range(2)), 10};
    TMLPNetwork net(3, sizes, true);
    net.RandomizeWeights(-0.05, 0.05);
    TBackpropModule trainer(&net);
    if (threads > 0) {
        TParallelSetup setup;
        setup.threads = threads;
        trainer.SetParallel(setup);
    }
    auto data = MakeRows(kRows, sizes[0], sizes[2]);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.001);
    params.SetNumber("MOMENTUM", 0.0);
    params.SetBoolean("BATCH", true);
    for (auto _ : state)
        benchmark::DoNotOptimize(trainer.TrainEpoch(data.get(), &params));
    state.SetItemsProcessed(state.iterations() * kRows);
    // Pattern x weight visits per second, the figure the cluster model in doc/Performance.md uses.
    state.counters["visits"] =
        benchmark::Counter(static_cast<double>(kRows) * net.GetNumWeights(FMaskExists),
                           benchmark::Counter::kIsIterationInvariantRate);
}

BENCHMARK(BM_BatchEpoch)
    ->ArgNames({"threads", "in", "hidden"})
    ->Args({0, 784, 256})
    ->Args({1, 784, 256})
    ->Args({2, 784, 256})
    ->Args({0, 64, 256})
    ->Args({1, 64, 256})
    ->Args({0, 784, 1024})
    ->Args({1, 784, 1024})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(3.0);

}  // namespace
}  // namespace synapsor

BENCHMARK_MAIN();
