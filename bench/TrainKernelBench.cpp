// The training benchmark behind `make bench`: online and batch epochs of the back-propagation
// trainer on perceptrons with a bias neuron and sigmoid layers over 2,000 synthetic patterns,
// the forward pass alone, and reading a 50 MB data set file. Each case also runs a plain scalar
// loop doing the same work (the reference trainer of the tests; strtod over the file's text for
// reading), and one table shows the medians of the repetitions and the ratio between the two.
// Arguments are passed on to Google Benchmark (e.g. --benchmark_repetitions=9).
#include <benchmark/benchmark.h>
#include <hwy/targets.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/MLPNetwork.h"
#include "Training/ReferenceTrainer.h"
#include "Training/TrainKernel.h"
#include "Training/TrainModule.h"

namespace synapsor {
namespace {

constexpr int kRows = 2000;

struct Shape {
    std::string name;
    std::vector<int> sizes;
    double pruned;
};

const std::vector<Shape>& Shapes() {
    static const std::vector<Shape> shapes = {
        {"64-32-10", {64, 32, 10}, 0.0},
        {"64-256-10", {64, 256, 10}, 0.0},
        {"64-128-64-10", {64, 128, 64, 10}, 0.0},
        {"784-256-10", {784, 256, 10}, 0.0},
        {"64-256-10, 25% pruned", {64, 256, 10}, 0.25},
    };
    return shapes;
}

std::unique_ptr<TMLPNetwork> MakeNet(const Shape& shape) {
    auto net = std::make_unique<TMLPNetwork>(static_cast<int>(shape.sizes.size()),
                                             shape.sizes.data(), true);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> w(static_cast<std::size_t>(net->GetNumWeights(FMaskExists)));
    for (double& x : w)
        x = u(random) - 0.5;
    net->SetWeights(w.data(), FMaskExists);
    if (shape.pruned > 0.0) {
        for (int t = 0; t < net->GetNumLayers(); t++)
            for (int f = 0; f < t; f++) {
                TBasicConnections* c = net->GetConnections(f, t);
                if (!c->IsConnected())
                    continue;
                for (int to = 0; to < net->GetLayer(t)->numNodes; to++)
                    for (int from = 0; from < net->GetLayer(f)->numNodes; from++)
                        if (u(random) < shape.pruned)
                            c->Prune(from, to);
            }
    }
    return net;
}

std::unique_ptr<Data> MakeData(int rows, int inputs, int outputs) {
    auto data = std::make_unique<Data>(rows, inputs, outputs, false);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<double> in(static_cast<std::size_t>(inputs));
    std::vector<double> out(static_cast<std::size_t>(outputs));
    for (int r = 0; r < rows; r++) {
        for (double& x : in)
            x = u(random);
        for (int k = 0; k < outputs; k++)
            out[k] = k == r % outputs ? 0.9 : 0.1;
        data->AppendRow(in.data(), out.data(), nullptr);
    }
    return data;
}

// Pattern x weight visits of one epoch.
double Visits(TBasicNetwork& net, int rows) {
    return static_cast<double>(rows) * net.GetNumWeights(FMaskExists);
}

void Epoch(benchmark::State& state, const Shape& shape, bool batch, bool reference) {
    auto net = MakeNet(shape);
    auto data = MakeData(kRows, shape.sizes.front(), shape.sizes.back());
    TKQstructure params("Params");
    params.SetNumber("LEARNINGRATE", 0.001);
    params.SetNumber("MOMENTUM", batch ? 0.0 : 0.5);
    params.SetBoolean("BATCH", batch);
    reference::Params ref;
    ref.batch = batch;
    ref.learningRate = 0.001;
    ref.momentum = batch ? 0.0 : 0.5;
    TBackpropModule module(net.get());
    reference::Trainer plain(net.get());
    TErrorRMSObj error(shape.sizes.back());
    for (auto _ : state) {
        if (reference)
            benchmark::DoNotOptimize(plain.Epoch(data.get(), ref, &error, nullptr));
        else
            benchmark::DoNotOptimize(module.TrainEpoch(data.get(), &params));
    }
    state.counters["rate"] =
        benchmark::Counter(Visits(*net, kRows) * state.iterations(), benchmark::Counter::kIsRate);
}

void Forward(benchmark::State& state, const Shape& shape, bool reference) {
    auto net = MakeNet(shape);
    TBasicNetwork gradient(*net);
    TBasicNetwork lastChange(*net);
    TTrainPlan plan;
    if (!BuildTrainPlan(net.get(), &gradient, &lastChange, false, &plan)) {
        state.SkipWithError("no plan");
        return;
    }
    reference::Trainer plain(net.get());
    std::vector<double> input(static_cast<std::size_t>(shape.sizes.front()));
    for (std::size_t k = 0; k < input.size(); k++)
        input[k] = (k % 7) / 7.0 - 0.4;
    for (auto _ : state) {
        if (reference)
            plain.Forward(input.data());
        else
            RunForwardPass(plan, input.data());
        benchmark::DoNotOptimize(net->GetLayer(net->GetOutLayer())->values.data());
        benchmark::ClobberMemory();
    }
    state.counters["rate"] =
        benchmark::Counter(Visits(*net, 1) * state.iterations(), benchmark::Counter::kIsRate);
}

std::string DataFile() {
    static const std::string file = [] {
        const std::string name = "bench-dataset.dat";
        std::ifstream probe(name, std::ios::binary | std::ios::ate);
        if (!probe || probe.tellg() < 50000000) {
            auto data = MakeData(3600, 784, 10);
            FileTools tools;
            if (tools.WriteDataSetFile(name.c_str(), data.get(), nullptr) != FileTools::SUCCESS) {
                std::fprintf(stderr, "cannot write %s\n", name.c_str());
                std::exit(1);
            }
        }
        return name;
    }();
    return file;
}

void Read(benchmark::State& state, bool reference) {
    const std::string file = DataFile();
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const double bytes = static_cast<double>(in.tellg());
    for (auto _ : state) {
        if (reference) {
            // Every number of the Data block through strtod, the file read in one piece.
            std::ifstream f(file, std::ios::binary);
            std::stringstream text;
            text << f.rdbuf();
            const std::string s = text.str();
            const char* p = s.c_str() + s.find("[Data]") + 6;
            double sum = 0.0;
            for (;;) {
                char* end = nullptr;
                const double x = std::strtod(p, &end);
                if (end == p)
                    break;
                sum += x;
                p = end;
            }
            benchmark::DoNotOptimize(sum);
        } else {
            std::unique_ptr<Data> data;
            FileTools tools;
            if (tools.LoadDataSet(file.c_str(), data) != FileTools::SUCCESS) {
                state.SkipWithError("read failed");
                return;
            }
            benchmark::DoNotOptimize(data.get());
        }
    }
    state.counters["rate"] =
        benchmark::Counter(bytes / 1e6 * state.iterations(), benchmark::Counter::kIsRate);
}

// Keeps the median of every case's repetitions.
class TableReporter : public benchmark::BenchmarkReporter {
  public:
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) {
                std::fprintf(stderr, "%s: %s\n", run.benchmark_name().c_str(),
                             run.error_message.c_str());
                continue;
            }
            const bool single = run.repetitions <= 1 && run.run_type == Run::RT_Iteration;
            if (!single && !(run.run_type == Run::RT_Aggregate && run.aggregate_name == "median"))
                continue;
            medians[run.run_name.function_name] = run.counters.at("rate").value;
        }
    }
    std::map<std::string, double> medians;
};

std::string Name(const std::string& row, bool reference) {
    return row + (reference ? " |reference" : " |kernel");
}

}  // namespace
}  // namespace synapsor

int main(int argc, char** argv) {
    using namespace synapsor;
    std::vector<std::string> rows;
    auto add = [&](const std::string& row, auto fn) {
        rows.push_back(row);
        for (bool reference : {false, true}) {
            benchmark::RegisterBenchmark(Name(row, reference).c_str(),
                                         [fn, reference](benchmark::State& s) { fn(s, reference); })
                ->MinTime(0.3)
                ->Unit(benchmark::kMillisecond);
        }
    };
    for (const Shape& shape : Shapes()) {
        for (bool batch : {false, true}) {
            add(std::string(batch ? "batch  " : "online ") + shape.name,
                [&shape, batch](benchmark::State& s, bool r) { Epoch(s, shape, batch, r); });
        }
    }
    for (std::size_t k : {1u, 3u}) {
        const Shape& shape = Shapes()[k];
        add("forward " + shape.name,
            [&shape](benchmark::State& s, bool r) { Forward(s, shape, r); });
    }
    add("read 50 MB data set file", [](benchmark::State& s, bool r) { Read(s, r); });

    std::vector<char*> args(argv, argv + argc);
    std::string repetitions = "--benchmark_repetitions=5";
    bool given = false;
    for (int i = 1; i < argc; i++)
        given = given || std::string(argv[i]).rfind("--benchmark_repetitions", 0) == 0;
    if (!given)
        args.push_back(repetitions.data());
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    TableReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    std::printf("Vector target: %s\n", hwy::TargetName(hwy::SupportedAndGeneratedTargets()[0]));
    std::printf("%-32s %16s %16s %8s\n", "case", "kernel", "scalar loop", "ratio");
    for (const std::string& row : rows) {
        const double kernel = reporter.medians[Name(row, false)];
        const double plain = reporter.medians[Name(row, true)];
        const bool read = row.rfind("read", 0) == 0;
        const double scale = read ? 1.0 : 1e6;
        const char* unit = read ? "MB/s" : "M/s";
        std::printf("%-32s %11.1f %-4s %11.1f %-4s %7.2fx\n", row.c_str(), kernel / scale, unit,
                    plain / scale, unit, plain > 0 ? kernel / plain : 0.0);
    }
    std::printf(
        "Epochs and forward pass: pattern x weight visits per second (M = 1e6); 2,000 "
        "patterns, bias, sigmoid. Medians of the repetitions.\n");
    return 0;
}
