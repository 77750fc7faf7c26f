// Times the reproducible sums a parallel batch pass forms, per cell, on an array as large as the
// gradient of a 784-256-10 perceptron with biases (203,530 weights): depositing a chunk's
// gradient into cells already at their level (the usual case), into cleared cells (a batch's
// first chunk), merging two workers' arrays, finishing, and as the yardstick the plain sum
// a single worker forms (one addition per cell).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "Training/BinnedSum.h"

namespace synapsor {
namespace {

constexpr std::size_t kCells = 784 * 256 + 256 + 256 * 10 + 10;

// Gradient-like sums of 64 rows: both signs, magnitudes over six decades, some exact zeros
// (weights no pattern reaches).
std::vector<double> Gradient(unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0), decade(-6.0, 0.0);
    std::vector<double> g(kCells);
    for (double& x : g)
        x = random() % 10 ? u(random) * std::pow(10.0, decade(random)) : 0.0;
    return g;
}

// The time per cell, printed as e.g. "850p" (seconds, with the library's SI prefix).
void PerCell(benchmark::State& state) {
    state.counters["per_cell"] = benchmark::Counter(
        static_cast<double>(kCells),
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Far fewer than kMaxBinnedTerms deposits run into one array in any timing.
void BM_BinnedDeposit(benchmark::State& state) {
    const std::vector<double> g[2] = {Gradient(1), Gradient(2)};
    TBinnedArray sums(kCells);
    sums.Deposit(g[0].data());
    std::size_t k = 0;
    for (auto _ : state) {
        sums.Deposit(g[k++ & 1].data());
        benchmark::ClobberMemory();
    }
    PerCell(state);
}

void BM_BinnedClearAndDeposit(benchmark::State& state) {
    const std::vector<double> g = Gradient(1);
    TBinnedArray sums(kCells);
    for (auto _ : state) {
        sums.Clear();
        sums.Deposit(g.data());
        benchmark::ClobberMemory();
    }
    PerCell(state);
}

void BM_BinnedMerge(benchmark::State& state) {
    const std::vector<double> g[2] = {Gradient(1), Gradient(2)};
    TBinnedArray into(kCells), from(kCells);
    into.Deposit(g[0].data());
    from.Deposit(g[1].data());
    for (auto _ : state) {
        into.Merge(from);
        benchmark::ClobberMemory();
    }
    PerCell(state);
}

void BM_BinnedFinish(benchmark::State& state) {
    const std::vector<double> g = Gradient(1);
    TBinnedArray sums(kCells);
    sums.Deposit(g.data());
    std::vector<double> out(kCells);
    for (auto _ : state) {
        sums.Finish(out.data());
        benchmark::ClobberMemory();
    }
    PerCell(state);
}

void BM_PlainSum(benchmark::State& state) {
    const std::vector<double> g[2] = {Gradient(1), Gradient(2)};
    std::vector<double> sum(kCells);
    std::size_t k = 0;
    for (auto _ : state) {
        const double* x = g[k++ & 1].data();
        for (std::size_t i = 0; i < kCells; i++)
            sum[i] += x[i];
        benchmark::ClobberMemory();
    }
    PerCell(state);
}

BENCHMARK(BM_BinnedDeposit);
BENCHMARK(BM_BinnedClearAndDeposit);
BENCHMARK(BM_BinnedMerge);
BENCHMARK(BM_BinnedFinish);
BENCHMARK(BM_PlainSum);

}  // namespace
}  // namespace synapsor

BENCHMARK_MAIN();
