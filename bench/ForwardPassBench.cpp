// Times the forward pass (Recall) of a basic network: bias, 64 inputs, two sigmoid layers of 128
// and 10 sigmoid outputs, every layer fed by the one below and by the bias through pruneable
// matrices. The second case prunes one weight per row, which takes the masked summing loop.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {
namespace {

std::unique_ptr<TBasicNetwork> MakeNet(const std::vector<int>& sizes) {
    const int n = static_cast<int>(sizes.size()) + 1;
    auto net = std::make_unique<TBasicNetwork>(n);
    net->SetLayer(0, new TSimpleLayer(net.get(), 0, 1));
    net->GetLayer(0)->SetActFunction(ActBias);
    net->SetLayer(1, new TSimpleInputLayer(net.get(), 1, sizes[0]));
    for (int i = 2; i < n; ++i) {
        net->SetLayer(i, new TSimpleLayer(net.get(), i, sizes[i - 1]));
        net->GetLayer(i)->SetActFunction(ActSigmoid);
        net->Connect(0, i);
        net->Connect(i - 1, i);
    }
    net->RandomizeWeights(-0.5, 0.5);
    return net;
}

void Recall(benchmark::State& state, bool pruned) {
    auto net = MakeNet({64, 128, 128, 10});
    if (pruned) {
        for (int i = 2; i < net->GetNumLayers(); ++i) {
            TBasicConnections* c = net->GetConnections(i - 1, i);
            for (int to = 0; to < net->GetLayer(i)->numNodes; ++to)
                c->Prune(to % net->GetLayer(i - 1)->numNodes, to);
        }
    }
    std::vector<double> input(64);
    for (int k = 0; k < 64; ++k)
        input[k] = (k % 7) / 7.0 - 0.4;
    std::vector<double> output(10);
    for (auto _ : state) {
        net->Recall(input.data(), output.data());
        benchmark::DoNotOptimize(output.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * net->GetNumWeights(FMaskExists));
}

void BM_RecallDense(benchmark::State& state) {
    Recall(state, false);
}
void BM_RecallPruned(benchmark::State& state) {
    Recall(state, true);
}

BENCHMARK(BM_RecallDense);
BENCHMARK(BM_RecallPruned);

}  // namespace
}  // namespace synapsor

BENCHMARK_MAIN();
