// Times one training epoch of the back-propagation trainer on a perceptron with one hidden
// layer: online with momentum (an update per pattern) and batch (one update per pass). The xor
// and iris shapes (2-3-1 over 4 rows, 4-5-3 over 150) time the fixed cost of an epoch, which
// dominates on such small networks.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/MLPNetwork.h"
#include "Training/TrainModule.h"

namespace synapsor {
namespace {

std::unique_ptr<Data> MakeRows(int rows, int inputs, int outputs) {
    auto data = std::make_unique<Data>(rows, inputs, outputs, false);
    std::vector<double> in(static_cast<size_t>(inputs));
    std::vector<double> out(static_cast<size_t>(outputs));
    for (int r = 0; r < rows; r++) {
        for (int i = 0; i < inputs; i++)
            in[i] = ((r * 7 + i * 3) % 11) / 10.0 - 0.5;
        for (int k = 0; k < outputs; k++)
            out[k] = ((r + k) % 3) / 2.0;
        data->AppendRow(in.data(), out.data(), nullptr);
    }
    return data;
}

void TrainEpoch(benchmark::State& state, bool batch) {
    const int hidden = static_cast<int>(state.range(0));
    const int sizes[3] = {20, hidden, 5};
    TMLPNetwork net(3, sizes, true);
    net.RandomizeWeights(-0.5, 0.5);
    TBackpropModule trainer(&net);
    auto data = MakeRows(200, 20, 5);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.01);
    params.SetNumber("MOMENTUM", batch ? 0.0 : 0.5);
    params.SetBoolean("BATCH", batch);
    for (auto _ : state)
        benchmark::DoNotOptimize(trainer.TrainEpoch(data.get(), &params));
    state.SetItemsProcessed(state.iterations() * data->MbrNdxRows);
}

void BM_TrainEpochOnlineMomentum(benchmark::State& state) {
    TrainEpoch(state, false);
}
void BM_TrainEpochBatch(benchmark::State& state) {
    TrainEpoch(state, true);
}

// Online epochs of the shapes of examples/xor and examples/iris: {inputs, hidden, outputs, rows}.
void BM_TrainEpochSmall(benchmark::State& state) {
    const int sizes[3] = {static_cast<int>(state.range(0)), static_cast<int>(state.range(1)),
                          static_cast<int>(state.range(2))};
    const int rows = static_cast<int>(state.range(3));
    TMLPNetwork net(3, sizes, true);
    net.RandomizeWeights(-0.5, 0.5);
    TBackpropModule trainer(&net);
    auto data = MakeRows(rows, sizes[0], sizes[2]);
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.5);
    params.SetNumber("MOMENTUM", 0.9);
    for (auto _ : state)
        benchmark::DoNotOptimize(trainer.TrainEpoch(data.get(), &params));
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_TrainEpochOnlineMomentum)->Arg(10)->Arg(50);
BENCHMARK(BM_TrainEpochSmall)->Args({2, 3, 1, 4})->Args({4, 5, 3, 150});
BENCHMARK(BM_TrainEpochBatch)->Arg(10)->Arg(50);

}  // namespace
}  // namespace synapsor

BENCHMARK_MAIN();
