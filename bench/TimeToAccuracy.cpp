// Time to accuracy: trains one network from the same starting weights under a small grid of
// settings per method (online, batch and mini-batch back-propagation, Rprop, Adam) and reports,
// per method, the setting that reaches the target test accuracy in the fewest epochs (epochs and
// training seconds to get there) and the best test accuracy any of its settings reaches within
// the time budget. Usage: TimeToAccuracy TRAIN.dat TEST.dat NET.wgt [TARGET [SECONDS]].
// Accuracy: the share of test rows whose largest output is the class of their largest expected
// output. Evaluation time is not counted.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/BasicNetwork.h"
#include "Training/RowShuffle.h"
#include "Training/TrainModule.h"

namespace {

using synapsor::Data;
using synapsor::TBasicNetwork;
using synapsor::TKQstructure;

struct Setting {
    const char* method;
    const char* algorithm;  // null: backprop
    double rate;            // 0: the rule's default
    double momentum;
    bool batch;
    int batchSize;
    bool shuffle;
};

const Setting kGrid[] = {
    {"online backprop", nullptr, 0.05, 0.5, false, 0, true},
    {"online backprop", nullptr, 0.1, 0.5, false, 0, true},
    {"online backprop", nullptr, 0.2, 0.5, false, 0, true},
    {"batch backprop", nullptr, 0.0001, 0.9, true, 0, false},
    {"batch backprop", nullptr, 0.0002, 0.9, true, 0, false},
    {"batch backprop", nullptr, 0.0005, 0.5, true, 0, false},
    {"mini-batch 32 backprop", nullptr, 0.002, 0.9, false, 32, true},
    {"mini-batch 32 backprop", nullptr, 0.005, 0.9, false, 32, true},
    {"mini-batch 32 backprop", nullptr, 0.01, 0.9, false, 32, true},
    {"rprop", "rprop", 0.01, 0.0, false, 0, false},
    {"rprop", "rprop", 0.1, 0.0, false, 0, false},
    {"adam mini-batch 32", "adam", 0.001, 0.0, false, 32, true},
    {"adam mini-batch 32", "adam", 0.003, 0.0, false, 32, true},
    {"adam mini-batch 32", "adam", 0.01, 0.0, false, 32, true},
};

std::unique_ptr<Data> Load(synapsor::FileTools& tools, const char* name) {
    std::unique_ptr<Data> data;
    tools.LoadDataSet(name, data);
    if (!data) {
        std::fprintf(stderr, "cannot read data set %s\n", name);
        std::exit(1);
    }
    return data;
}

double Accuracy(TBasicNetwork& net, const Data& test) {
    std::vector<double> in(static_cast<std::size_t>(test.MbrNdxInputs));
    std::vector<double> target(static_cast<std::size_t>(test.MbrNdxOutputs));
    std::vector<double> out(target.size());
    int right = 0;
    for (int i = 0; i < test.MbrNdxDataRows; i++) {
        test.GetSelectedRow(test.StepRow(test.MbrNdxLast, i + 1), in.data(), target.data());
        net.Recall(in.data(), out.data());
        std::size_t best = 0, want = 0;
        for (std::size_t k = 1; k < out.size(); k++) {
            if (out[k] > out[best])
                best = k;
            if (target[k] > target[want])
                want = k;
        }
        right += best == want;
    }
    return static_cast<double>(right) / test.MbrNdxDataRows;
}

struct Result {
    int epochs = -1;  // to the target; -1: not reached
    double seconds = 0.0;
    double best = 0.0;
};

Result Run(const Setting& s, const char* netFile, Data& train, const Data& test, double target,
           double budget) {
    synapsor::FileTools tools;
    std::unique_ptr<TBasicNetwork> net = tools.ReadNetworkFile(netFile);
    synapsor::TBackpropModule trainer(net.get());
    TKQstructure params("Params");
    if (s.rate > 0.0)
        params.SetString("LEARNINGRATE", std::to_string(s.rate).c_str());
    params.SetNumber("MOMENTUM", s.momentum);
    params.SetBoolean("BATCH", s.batch);
    if (s.algorithm != nullptr)
        params.SetString("ALGORITHM", s.algorithm);
    if (s.batchSize > 0)
        params.SetInteger("BATCHSIZE", s.batchSize);
    synapsor::TRowShuffle shuffle(1);
    std::vector<int> order;
    Result r;
    double spent = 0.0;
    for (int epoch = 1; spent < budget; epoch++) {
        const auto start = std::chrono::steady_clock::now();
        if (s.shuffle) {
            shuffle.NextOrder(train.MbrNdxRows, &order);
            trainer.SetPassOrder(order);
        }
        trainer.TrainEpoch(&train, &params);
        spent += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double accuracy = Accuracy(*net, test);
        if (accuracy > r.best)
            r.best = accuracy;
        if (r.epochs < 0 && accuracy >= target) {
            r.epochs = epoch;
            r.seconds = spent;
        }
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr,
                     "Usage: TimeToAccuracy TRAIN.dat TEST.dat NET.wgt [TARGET [SECONDS]]\n");
        return 2;
    }
    const double target = argc > 4 ? std::atof(argv[4]) : 0.95;
    const double budget = argc > 5 ? std::atof(argv[5]) : 3.0;
    synapsor::FileTools tools;
    std::unique_ptr<Data> train = Load(tools, argv[1]);
    std::unique_ptr<Data> test = Load(tools, argv[2]);
    std::printf("target test accuracy %.1f%%, %g s of training per setting\n\n", 100 * target,
                budget);
    std::printf(
        "| method | setting | epochs to target | seconds to target | best accuracy in %g s |\n",
        budget);
    std::printf("|---|---|---:|---:|---:|\n");
    for (const Setting& s : kGrid) {
        const Result r = Run(s, argv[3], *train, *test, target, budget);
        char setting[96];
        std::snprintf(setting, sizeof setting, "rate %g%s%s", s.rate,
                      s.momentum > 0.0
                          ? (", momentum " + std::to_string(s.momentum).substr(0, 3)).c_str()
                          : "",
                      s.shuffle ? ", shuffled" : "");
        if (r.epochs > 0)
            std::printf("| %s | %s | %d | %.2f | %.1f%% |\n", s.method, setting, r.epochs,
                        r.seconds, 100 * r.best);
        else
            std::printf("| %s | %s | not reached | - | %.1f%% |\n", s.method, setting,
                        100 * r.best);
        std::fflush(stdout);
    }
    return 0;
}
