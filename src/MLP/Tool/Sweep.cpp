#include "MLP/Tool/Sweep.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <limits>
#include <locale>
#include <sstream>
#include <thread>

#include "Common/Assert.h"
#include "FileHandler/Filer.h"
#include "KQmessage/KQML.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/OutputSet.h"
#include "MLP/Common/TrainParams.h"
#include "MLP/Tool/Create.h"
#include "MLP/Tool/CsvWriter.h"
#include "MLP/Tool/Evaluate.h"
#include "MLP/Tool/Recall.h"
#include "MLP/Tool/SweepHandOut.h"
#ifdef SYNAPSOR_SWEEP_MPI
#include "MLP/Tool/SweepCluster.h"
#endif
#include "MLP/Tool/ToolCommands.h"
#include "Training/ParallelPass.h"
#include "Training/TrainModule.h"

namespace synapsor {

namespace {

using Clock = std::chrono::steady_clock;

const SweepWord* KeyWord(const SweepSetup& setup, const char* key) {
    for (const SweepKey& k : setup.keys) {
        if (k.name.text == key)
            return &k.values[0];
    }
    return nullptr;
}

// "FILE:LINE:COLUMN: " at the key's value in the setup, or "FILE: " when the key is not there.
std::string WhereKey(const SweepSetup& setup, const char* key) {
    const SweepWord* word = KeyWord(setup, key);
    return word ? setup.Where(*word) : setup.file + ": ";
}

// The rows of `data` for which keep(row index) holds, oldest first, in a data set of their own.
template <typename Keep>
std::unique_ptr<Data> Subset(const Data& data, Keep keep) {
    int count = 0;
    for (int i = 0; i < data.MbrNdxDataRows; ++i)
        count += keep(i) ? 1 : 0;
    auto subset = std::make_unique<Data>(count, data.MbrNdxInputs, data.MbrNdxOutputs, false);
    std::vector<double> in(static_cast<std::size_t>(data.MbrNdxInputs) + 1);
    std::vector<double> out(static_cast<std::size_t>(data.MbrNdxOutputs) + 1);
    for (int i = 0; i < data.MbrNdxDataRows; ++i) {
        if (!keep(i))
            continue;
        const int row = HeldRow(data, i);
        data.GetInputRow(row, in.data());
        data.GetOutputRow(row, out.data());
        subset->AppendRow(in.data(), out.data(), nullptr);
    }
    return subset;
}

// The data a run trains on and the data it is scored on.
std::unique_ptr<Data> TrainingRows(const SweepPlan& plan, int fold) {
    if (plan.setup.folds == 0)
        return plan.training->Clone();
    return Subset(*plan.training, [&](int i) { return plan.folds[i] != fold; });
}

std::unique_ptr<Data> ScoringRows(const SweepPlan& plan, int fold) {
    if (plan.setup.folds == 0)
        return plan.validation->Clone();
    return Subset(*plan.training, [&](int i) { return plan.folds[i] == fold; });
}

// The score of a trained network on `data` (feature selection applied as in training): the
// accuracy when the targets mark classes, else the RMS error, with evaluate's arithmetic.
double Score(TBasicNetwork& network, const Data& data, bool classification) {
    RecallTable table;
    table.rows = data.MbrNdxDataRows;
    table.outputs = network.GetLayer(network.GetOutLayer())->numNodes;
    const int inputs = network.GetLayer(network.GetInLayer())->numNodes;
    table.values.resize(static_cast<std::size_t>(table.rows) * table.outputs);
    std::vector<double> input(static_cast<std::size_t>(std::max(inputs, data.MbrNdxInputs)) + 1);
    std::vector<double> target(static_cast<std::size_t>(data.MbrNdxOutputs) + 1);
    for (int i = 0; i < table.rows; ++i) {
        data.GetSelectedRow(HeldRow(data, i), input.data(), target.data());
        network.Recall(input.data(),
                       table.values.data() + static_cast<std::size_t>(i) * table.outputs);
    }
    for (double v : table.values) {
        if (!std::isfinite(v))
            return std::numeric_limits<double>::quiet_NaN();
    }
    const Evaluation e = EvaluateOutputs(data, table);
    return classification ? e.accuracy : e.rms;
}

bool WeightsFinite(TBasicNetwork& network) {
    std::vector<double> weights(static_cast<std::size_t>(network.GetNumWeights(1)));
    network.GetWeights(weights.data(), 1);
    return std::all_of(weights.begin(), weights.end(), [](double w) { return std::isfinite(w); });
}

// Train's answer when `abandon` was set before the last epoch.
const char* const kAbandoned = "abandoned";

// The trainer's epochs on `data`; the empty text, or why the run failed. `abandon`, when given
// and set, ends the run before its next epoch.
std::string Train(TBasicNetwork& network, Data& data, const TrainSettings& settings,
                  const std::atomic<bool>* abandon = nullptr) {
    PrepareForTraining(data, network, settings);
    TBackpropModule trainer(&network);
    // With Threads the run sums its batches in chunks, as Synapsor would: the bits are those of
    // any thread count, so one thread serves, and the sweep's own -j spreads the runs.
    if (settings.IsGiven("Threads")) {
        TParallelSetup oneThread;
        trainer.SetParallel(oneThread);
    }
    const std::unique_ptr<TKQstructure> params = BuildParams(settings);
    for (std::int64_t epoch = 1; epoch <= settings.LngEpochs; ++epoch) {
        if (abandon != nullptr && abandon->load(std::memory_order_relaxed))
            return kAbandoned;
        const float error = static_cast<float>(trainer.TrainEpoch(&data, params.get()));
        if (!std::isfinite(error))
            return "diverged in epoch " + std::to_string(epoch);
    }
    if (!WeightsFinite(network))
        return "diverged: the weights are not finite numbers";
    return std::string();
}

// The kernels pick their instruction set on first use; that choice is made here, on one thread,
// before the runs start on several.
void WarmUpKernels() {
    CreateOptions options;
    options.layers = {2, 2, 1};
    for (bool batch : {false, true}) {
        std::unique_ptr<TBasicNetwork> network = BuildNetwork(options, 1);
        Data data(1, 2, 1, false);
        const double in[2] = {0.0, 1.0}, out[1] = {1.0};
        data.AppendRow(in, out, nullptr);
        TrainSettings settings;
        settings.Batch = batch;
        settings.LngEpochs = 1;
        Train(*network, data, settings);
        double result = 0.0;
        network->Recall(in, &result);
    }
}

std::string Seconds(double s) {
    const long long whole = static_cast<long long>(std::llround(s));
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

std::string Fixed(double value, int digits) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    if (std::isnan(value))
        return "failed";
    text << std::fixed << std::setprecision(digits) << value;
    return text.str();
}

// Input layer (the selected features or every input), hidden layers, output layer.
std::vector<int> StartLayers(const SweepPlan& plan, int setting) {
    const TrainSettings& values = plan.values[setting];
    std::vector<int> layers = {values.MbrNdxFeatures > 0 ? values.MbrNdxFeatures
                                                         : plan.training->MbrNdxInputs};
    for (int size : plan.setup.hiddenSizes[plan.settings[setting].hidden])
        layers.push_back(size);
    layers.push_back(plan.training->MbrNdxOutputs);
    return layers;
}

// Makes the setting's starting network for the seed as create makes it, and keeps its text.
void KeepStartText(SweepPlan& plan, int setting, std::uint64_t seed) {
    std::pair<std::vector<int>, std::uint64_t> key{StartLayers(plan, setting), seed};
    if (plan.startTexts.count(key) > 0)
        return;
    CreateOptions options;
    options.hidden = plan.setup.hiddenFunction;
    options.output = plan.setup.outputFunction;
    options.layers = key.first;
    std::unique_ptr<TBasicNetwork> network = BuildNetwork(options, seed);
    std::ostringstream text;
    text.imbue(std::locale::classic());
    FileTools tools;
    tools.WriteNetwork(text, network.get());
    plan.startTexts.emplace(std::move(key), text.str());
}

}  // namespace

SweepPlan PrepareSweep(SweepSetup setup) {
    SweepPlan plan;
    plan.setup = std::move(setup);
    const SweepSetup& s = plan.setup;
    plan.settings = ExpandSettings(s);
    for (const SweepSetting& setting : plan.settings)
        plan.values.push_back(SettingValues(s, setting));

    for (std::size_t k = 0; k < plan.values.size(); ++k) {
        TrainSettings values = plan.values[k];
        if (s.MakesNetworks())
            values.WeightFile = "-";
        // A run here is the trainer's epochs alone, scored after the last one: what the training
        // run adds around them (a shuffled order, a validation file with early stopping) is not
        // run, so a setting that asks for it is refused rather than scored as something else.
        const char* notRun = values.Shuffle                   ? "Shuffle"
                             : values.Patience > 0            ? "Patience"
                             : !values.ValidationFile.empty() ? "ValidationFile"
                                                              : nullptr;
        if (notRun != nullptr) {
            throw SweepError(WhereKey(s, notRun) + "sweep does not run " + notRun +
                             " of the training run yet: its runs take the rows in file order "
                             "for every epoch and are scored after the last (leave " +
                             notRun + " out; score with the sweep's own ValidationFile or Folds)");
        }
        const std::string missing = CheckSettings(values);
        if (missing.empty())
            continue;
        // Only Epochs can be missing from one setting and not another: name its value.
        std::string where = s.file + ": ";
        for (std::size_t key = 0; key < s.keys.size(); ++key) {
            if (!values.WeightFile.empty() && !values.TrainingFile.empty() &&
                s.keys[key].name.text == "Epochs")
                where = s.Where(s.keys[key].values[plan.settings[k].choice[key]]);
        }
        throw SweepError(where + missing);
    }
    TrainSettings first = plan.values[0];
    plan.trainingFile = first.TrainingFile;
    plan.weightFile = s.MakesNetworks() ? std::string() : first.WeightFile;
    if (!s.MakesNetworks()) {
        try {
            FileTools tools;
            LoadNetwork(tools, plan.weightFile);  // the trainer's checks and messages
            std::ifstream in(plan.weightFile, std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            plan.weightText = text.str();
        } catch (...) {
            throw SweepError(WhereKey(s, "WeightFile") + DescribeToolFailure());
        }
    }

    FileTools tools;
    try {
        plan.training = LoadDataSet(tools, plan.trainingFile, DataSetRole::Training);
        if (!s.validationFile.empty())
            plan.validation = LoadDataSet(tools, s.validationFile, DataSetRole::Input);
    } catch (...) {
        throw SweepError(WhereKey(s, "TrainingFile") + DescribeToolFailure());
    }
    std::string nonFinite = FindNonFinite(*plan.training, plan.trainingFile, DataSetRole::Training);
    if (nonFinite.empty() && plan.validation)
        nonFinite = FindNonFinite(*plan.validation, s.validationFile, DataSetRole::Input);
    if (!nonFinite.empty())
        throw SweepError(nonFinite);
    if (plan.training->MbrNdxDataRows == 0)
        throw SweepError(WhereKey(s, "TrainingFile") + "Training file " + plan.trainingFile +
                         " holds no rows");
    if (plan.training->MbrNdxOutputs == 0)
        throw SweepError(WhereKey(s, "TrainingFile") + "Training file " + plan.trainingFile +
                         " has no expected outputs to train on");
    const std::vector<int> classes = TargetClasses(*plan.training);
    plan.classification = !classes.empty();
    if (s.folds > 0) {
        if (s.folds > plan.training->MbrNdxDataRows) {
            throw SweepError(s.Where(s.foldsWord) + "Folds = " + std::to_string(s.folds) +
                             ", but the training file " + plan.trainingFile + " holds " +
                             std::to_string(plan.training->MbrNdxDataRows) + " rows");
        }
        plan.folds = MakeFolds(plan.training->MbrNdxDataRows, classes, s.folds, s.foldSeed);
    } else if (plan.validation->MbrNdxOutputs != plan.training->MbrNdxOutputs ||
               plan.validation->MbrNdxInputs != plan.training->MbrNdxInputs ||
               plan.validation->MbrNdxDataRows == 0) {
        throw SweepError(s.Where(s.validationWord) + "Validation file " + s.validationFile +
                         " must hold rows with " + std::to_string(plan.training->MbrNdxInputs) +
                         " inputs and " + std::to_string(plan.training->MbrNdxOutputs) +
                         " expected outputs, as the training file " + plan.trainingFile + " does");
    }

    // Every setting must make a network that trains on the data before any run starts.
    std::unique_ptr<Data> dry = plan.training->Clone();
    for (std::size_t k = 0; k < plan.settings.size(); ++k) {
        std::unique_ptr<TBasicNetwork> network;
        try {
            if (s.MakesNetworks()) {
                for (std::uint64_t seed : s.seeds)
                    KeepStartText(plan, static_cast<int>(k), seed);
            }
            network = StartNetwork(plan, static_cast<int>(k), s.seeds[0]);
        } catch (...) {
            const SweepWord& at =
                s.MakesNetworks() ? s.hidden.values[plan.settings[k].hidden] : SweepWord{};
            throw SweepError((at.line > 0 ? s.Where(at) : WhereKey(s, "WeightFile")) +
                             DescribeToolFailure());
        }
        try {
            TrainSettings values = plan.values[k];
            dry->SetInputFeatures(0, nullptr);
            PrepareForTraining(*dry, *network, values);
        } catch (...) {
            const char* key = KeyWord(s, "Features") ? "Features" : "TrainingFile";
            throw SweepError(WhereKey(s, key) + DescribeToolFailure());
        }
    }

    const int folds = std::max(1, s.folds);
    for (int k = 0; k < static_cast<int>(plan.settings.size()); ++k) {
        for (int seed = 0; seed < static_cast<int>(s.seeds.size()); ++seed) {
            for (int fold = 0; fold < folds; ++fold)
                plan.runs.push_back({k, seed, fold});
        }
    }
    return plan;
}

namespace {

// FNV-1a over bytes, numbers taken as their bits in a fixed order.
class Digest {
  public:
    void Bytes(const std::string& text) {
        Number(text.size());
        for (char c : text)
            Byte(static_cast<unsigned char>(c));
    }
    void Number(std::uint64_t bits) {
        for (int b = 0; b < 8; ++b)
            Byte(static_cast<unsigned char>(bits >> (8 * b)));
    }
    void Real(double value) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &value, sizeof bits);
        Number(bits);
    }
    std::uint64_t value = 14695981039346656037ULL;

  private:
    void Byte(unsigned char b) { value = (value ^ b) * 1099511628211ULL; }
};

void DigestRows(Digest& digest, const Data* data) {
    if (data == nullptr) {
        digest.Number(0);
        return;
    }
    digest.Number(static_cast<std::uint64_t>(data->MbrNdxDataRows));
    std::vector<double> in(static_cast<std::size_t>(data->MbrNdxInputs) + 1);
    std::vector<double> out(static_cast<std::size_t>(data->MbrNdxOutputs) + 1);
    for (int i = 0; i < data->MbrNdxDataRows; ++i) {
        const int row = HeldRow(*data, i);
        data->GetInputRow(row, in.data());
        data->GetOutputRow(row, out.data());
        for (double v : in)
            digest.Real(v);
        for (double v : out)
            digest.Real(v);
    }
}

}  // namespace

std::uint64_t PlanDigest(const SweepPlan& plan) {
    Digest digest;
    digest.Number(plan.runs.size());
    for (const SweepSetting& setting : plan.settings)
        digest.Bytes(SettingText(plan.setup, setting));
    digest.Bytes(plan.weightText);
    for (const auto& [key, text] : plan.startTexts)
        digest.Bytes(text);
    for (int fold : plan.folds)
        digest.Number(static_cast<std::uint64_t>(fold));
    DigestRows(digest, plan.training.get());
    DigestRows(digest, plan.validation.get());
    return digest.value;
}

std::unique_ptr<TBasicNetwork> StartNetwork(const SweepPlan& plan, int setting,
                                            std::uint64_t seed) {
    FileTools tools;
    const std::string* text = &plan.weightText;
    if (plan.setup.MakesNetworks()) {
        const auto found = plan.startTexts.find({StartLayers(plan, setting), seed});
        SYN_ASSERT(found != plan.startTexts.end());
        text = &found->second;
    }
    std::istringstream in(*text);
    return tools.ReadNetwork(in);
}

SweepResult RunOne(const SweepPlan& plan, const SweepRun& run, const std::atomic<bool>* abandon) {
    const Clock::time_point start = Clock::now();
    SweepResult result;
    result.finished = true;
    result.score = std::numeric_limits<double>::quiet_NaN();
    try {
        const TrainSettings& values = plan.values[run.setting];
        std::unique_ptr<TBasicNetwork> network =
            StartNetwork(plan, run.setting, plan.setup.seeds[run.seed]);
        std::unique_ptr<Data> train = TrainingRows(plan, run.fold);
        std::unique_ptr<Data> score = ScoringRows(plan, run.fold);
        result.failure = Train(*network, *train, values, abandon);
        if (result.failure == kAbandoned) {
            result.finished = false;
            result.failure.clear();
            return result;
        }
        if (result.failure.empty()) {
            if (values.MbrNdxFeatures > 0)
                score->SetInputFeatures(values.MbrNdxFeatures, values.MbrDyaFeatures.data());
            result.score = Score(*network, *score, plan.classification);
            if (std::isnan(result.score))
                result.failure = "the outputs are not finite numbers";
        }
    } catch (...) {
        result.failure = DescribeToolFailure();
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return result;
}

std::unique_ptr<TBasicNetwork> Refit(const SweepPlan& plan, int setting) {
    std::unique_ptr<TBasicNetwork> network = StartNetwork(plan, setting, plan.setup.seeds[0]);
    std::unique_ptr<Data> train = plan.training->Clone();
    const std::string failure = Train(*network, *train, plan.values[setting]);
    if (!failure.empty())
        throw ToolError("the refit on all training rows " + failure);
    return network;
}

SweepPool::SweepPool(const SweepPlan& plan, int threads, std::function<int()> take,
                     std::function<void(int run, SweepResult result)> finish,
                     const std::atomic<bool>* abandon) {
    WarmUpKernels();
    running = threads;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([this, &plan, take, finish, abandon] {
            for (;;) {
                const int i = take();
                if (i < 0)
                    break;
                finish(i, RunOne(plan, plan.runs[i], abandon));
            }
            running.fetch_sub(1);
        });
    }
}

SweepPool::~SweepPool() {
    for (std::thread& t : pool)
        t.join();
}

SweepSignals::SweepSignals() {
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &previous);
}

SweepSignals::~SweepSignals() {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

int SweepSignals::Poll() {
    timespec none{0, 0};
    const int sig = sigtimedwait(&signals, nullptr, &none);
    return sig > 0 ? sig : 0;
}

std::function<void(int done)> SweepProgress(int total, std::ostream& log) {
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const Clock::time_point start = Clock::now();
    return [terminal, start, total, &log](int done) {
        if (!terminal)
            return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        std::string left = "?";
        if (done > 0)
            left = Seconds(elapsed / done * (total - done));
        log << "\rsweep: " << done << '/' << total << " runs, " << Seconds(elapsed)
            << " elapsed, about " << left << " left   " << std::flush;
    };
}

std::vector<SweepResult> RunAll(const SweepPlan& plan, int jobs, const std::atomic<bool>& stop,
                                const std::function<void(int done)>& tick) {
    const int total = static_cast<int>(plan.runs.size());
    std::vector<SweepResult> results(static_cast<std::size_t>(total));
    std::atomic<int> next{0};
    std::atomic<int> done{0};
    // Each thread takes the next run not yet taken; results go to the run's own slot, so the
    // order they finish in does not matter.
    SweepPool pool(
        plan, std::max(1, std::min(jobs, total)),
        [&]() -> int {
            if (stop.load())
                return -1;
            const int i = next.fetch_add(1);
            return i < total ? i : -1;
        },
        [&](int i, SweepResult result) {
            results[i] = std::move(result);
            done.fetch_add(1);
        });
    while (!pool.Finished()) {
        if (tick)
            tick(done.load());
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return results;
}

std::vector<SweepRow> Summarize(const SweepPlan& plan, const std::vector<SweepResult>& results) {
    std::vector<SweepRow> rows(plan.settings.size());
    std::vector<std::vector<double>> scores(plan.settings.size());
    for (std::size_t k = 0; k < rows.size(); ++k) {
        rows[k].setting = static_cast<int>(k);
        rows[k].epochs = std::max(0, plan.values[k].LngEpochs);
    }
    for (std::size_t i = 0; i < plan.runs.size(); ++i) {
        SweepRow& row = rows[plan.runs[i].setting];
        row.runs += 1;
        if (!results[i].finished)
            continue;
        row.finished += 1;
        row.seconds += results[i].seconds;
        if (results[i].failure.empty())
            scores[row.setting].push_back(results[i].score);
        else
            row.failed += 1;
    }
    for (SweepRow& row : rows) {
        const std::vector<double>& s = scores[row.setting];
        if (row.finished > 0)
            row.seconds /= row.finished;
        if (row.failed > 0 || s.empty()) {
            row.mean = row.spread = std::numeric_limits<double>::quiet_NaN();
            continue;
        }
        double sum = 0.0;
        for (double v : s)
            sum += v;
        row.mean = sum / static_cast<double>(s.size());
        double squares = 0.0;
        for (double v : s)
            squares += (v - row.mean) * (v - row.mean);
        row.spread = s.size() > 1 ? std::sqrt(squares / static_cast<double>(s.size() - 1)) : 0.0;
    }
    const bool higher = plan.classification;
    std::stable_sort(rows.begin(), rows.end(), [higher](const SweepRow& a, const SweepRow& b) {
        if (std::isnan(a.mean) || std::isnan(b.mean))
            return !std::isnan(a.mean) && std::isnan(b.mean);
        return higher ? a.mean > b.mean : a.mean < b.mean;
    });
    return rows;
}

void WriteSweepCsv(std::ostream& out, const SweepPlan& plan, const std::vector<SweepRow>& rows) {
    CsvWriter csv(out);
    csv.Field("rank");
    for (const auto& kv : SweptValues(plan.setup, plan.settings[0]))
        csv.Field(kv.first);
    csv.Field(plan.classification ? "accuracy" : "rms");
    for (const char* name : {"spread", "runs", "finished", "failed", "epochs", "seconds"})
        csv.Field(name);
    csv.EndRow();
    long long rank = 1;
    for (const SweepRow& row : rows) {
        csv.Number(rank++);
        for (const auto& kv : SweptValues(plan.setup, plan.settings[row.setting]))
            csv.Field(kv.second);
        csv.Number(row.mean);
        csv.Number(row.spread);
        csv.Number(static_cast<long long>(row.runs));
        csv.Number(static_cast<long long>(row.finished));
        csv.Number(static_cast<long long>(row.failed));
        csv.Number(static_cast<long long>(row.epochs));
        csv.Number(row.seconds);
        csv.EndRow();
    }
}

void WriteSweepTable(std::ostream& out, const SweepPlan& plan, const std::vector<SweepRow>& rows) {
    std::vector<std::vector<std::string>> cells;
    std::vector<std::string> head = {"rank"};
    for (const auto& kv : SweptValues(plan.setup, plan.settings[0]))
        head.push_back(kv.first);
    head.push_back(plan.classification ? "accuracy" : "rms");
    for (const char* name : {"spread", "runs", "epochs", "seconds"})
        head.push_back(name);
    cells.push_back(head);
    int rank = 1;
    int finished = 0, total = 0;
    for (const SweepRow& row : rows) {
        std::vector<std::string> line = {std::to_string(rank++)};
        for (const auto& kv : SweptValues(plan.setup, plan.settings[row.setting]))
            line.push_back(kv.second);
        // A setting none of whose runs started before an interrupt has no score yet.
        line.push_back(row.finished == 0 ? "-" : Fixed(row.mean, 4));
        line.push_back(row.finished == 0 ? "-" : Fixed(row.spread, 4));
        line.push_back(row.finished == row.runs
                           ? std::to_string(row.runs)
                           : std::to_string(row.finished) + " of " + std::to_string(row.runs));
        line.push_back(std::to_string(row.epochs));
        line.push_back(Fixed(row.seconds, 3));
        cells.push_back(line);
        finished += row.finished;
        total += row.runs;
    }
    std::vector<std::size_t> width(head.size(), 0);
    for (const auto& line : cells) {
        for (std::size_t c = 0; c < line.size(); ++c)
            width[c] = std::max(width[c], line[c].size());
    }
    std::ostringstream text;
    if (finished < total) {
        text << "incomplete: " << finished << " of " << total
             << " runs finished before the interrupt\n";
    }
    for (const auto& line : cells) {
        // Settings left-aligned, numbers right-aligned.
        const std::size_t settingsEnd = head.size() - 5;
        for (std::size_t c = 0; c < line.size(); ++c) {
            const bool left = c > 0 && c < settingsEnd;
            text << (c == 0 ? "" : "  ") << (left ? std::left : std::right)
                 << std::setw(static_cast<int>(width[c])) << line[c];
        }
        text << std::right << '\n';
    }
    out << text.str();
}

std::string BestParameterText(const SweepPlan& plan, int setting, const std::string& startFile,
                              const std::string& destination) {
    std::string text = SettingText(plan.setup, plan.settings[setting]);
    if (plan.setup.MakesNetworks())
        text += "WeightFile = " + startFile + '\n';
    if (!destination.empty())
        text += "DestinationFile = " + destination + '\n';
    return text;
}

int SweepJobs(const SweepOptions& options) {
    if (options.jobs > 0)
        return options.jobs;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int RunSweep(const SweepOptions& options, std::ostream& console, std::ostream& log) {
    const SweepPlan plan = PrepareSweep(ReadSweepSetup(options.sweepFile));
    const int total = static_cast<int>(plan.runs.size());
    std::vector<SweepResult> results;
    SweepStop stop;
    {
        // SIGINT and SIGTERM wait while the runs go on (the threads inherit the mask); the tick
        // takes them and asks the pool to stop handing out runs.
        SweepSignals signals;
        const std::function<void(int)> progress = SweepProgress(total, log);
        auto tick = [&](int done) {
            const int sig = signals.Poll();
            if (sig != 0)
                stop.Raise(sig);
            progress(done);
        };
        results = RunAll(plan, SweepJobs(options), stop.stop, tick);
        tick(total);
        if (isatty(STDERR_FILENO) == 1)
            log << '\n';
    }
    return WriteSweepOutputs(options, plan, results, stop.signal.load(), console, log);
}

int WriteSweepOutputs(const SweepOptions& options, const SweepPlan& plan,
                      const std::vector<SweepResult>& results, int signal, std::ostream& console,
                      std::ostream& log) {
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (!results[i].failure.empty()) {
            log << "synapsor-tool: sweep: run " << i + 1 << " (setting " << plan.runs[i].setting + 1
                << ", seed " << plan.setup.seeds[plan.runs[i].seed] << ", fold "
                << plan.runs[i].fold + 1 << ") " << results[i].failure << '\n';
        }
    }
    const std::vector<SweepRow> rows = Summarize(plan, results);
    const SweepRow& best = rows.front();
    const bool haveBest = !std::isnan(best.mean);

    OutputSet outputs(console);
    outputs.AddInput(options.sweepFile);
    outputs.AddInput(plan.trainingFile);
    if (!plan.setup.validationFile.empty())
        outputs.AddInput(plan.setup.validationFile);
    if (!plan.setup.baseFile.empty())
        outputs.AddInput(plan.setup.baseFile);
    if (!plan.weightFile.empty())
        outputs.AddInput(plan.weightFile);
    outputs.Add("CSV file", options.csvFile,
                [&](std::ostream& out) { WriteSweepCsv(out, plan, rows); });
    std::unique_ptr<TBasicNetwork> refit;
    FileTools tools;
    if (haveBest && signal == 0) {
        std::string startFile;
        if (plan.setup.MakesNetworks()) {
            const std::string& b = options.bestFile;
            const std::size_t dot = b.find_last_of('.');
            const std::size_t slash = b.find_last_of('/');
            startFile = (dot != std::string::npos && (slash == std::string::npos || dot > slash)
                             ? b.substr(0, dot)
                             : b) +
                        ".start.wgt";
            std::shared_ptr<TBasicNetwork> network =
                StartNetwork(plan, best.setting, plan.setup.seeds[0]);
            outputs.Add("network file", startFile, [&tools, network](std::ostream& out) {
                tools.WriteNetwork(out, network.get());
            });
        }
        const std::string text =
            BestParameterText(plan, best.setting, startFile, options.refitFile);
        outputs.Add("parameter file", options.bestFile, [text](std::ostream& out) { out << text; });
        if (!options.refitFile.empty()) {
            refit = Refit(plan, best.setting);
            outputs.Add("network file", options.refitFile,
                        [&](std::ostream& out) { tools.WriteNetwork(out, refit.get()); });
        }
    }
    outputs.Add("table", "-", [&](std::ostream& out) {
        WriteSweepTable(out, plan, rows);
        if (!haveBest) {
            out << "no setting finished without a failure\n";
            return;
        }
        out << "best:";
        const char* sep = " ";
        for (const auto& kv : SweptValues(plan.setup, plan.settings[best.setting])) {
            out << sep << kv.first << " = " << kv.second;
            sep = ", ";
        }
        out << " (" << (plan.classification ? "accuracy " : "rms ") << Fixed(best.mean, 4)
            << ", spread " << Fixed(best.spread, 4) << ")\n";
    });
    outputs.Commit();
    console.flush();
    return signal == 0 ? 0 : 128 + signal;
}

void AddSweepCommand(CLI::App& app) {
    auto options = std::make_shared<SweepOptions>();
    CLI::App* cmd = app.add_subcommand(
        "sweep",
        "Train every combination of the settings a sweep file names, score each on "
        "rows it did not train on, and keep the best");
    cmd->add_option("file", options->sweepFile, "Sweep file (see doc/Sweep.md)")->required();
    cmd->add_option("-j,--jobs", options->jobs, "Runs at once (default: one per core)")
        ->check(CLI::Range(1, 1024));
    cmd->add_option("--csv", options->csvFile, "Table of the settings as CSV")
        ->capture_default_str();
    cmd->add_option("--best", options->bestFile, "Parameter file of the best setting")
        ->capture_default_str();
    cmd->add_option("--refit", options->refitFile,
                    "Train the best setting on all training rows and write the network here");
    cmd->callback([options] {
#ifdef SYNAPSOR_SWEEP_MPI
        // Started by mpirun or srun: the runs go across the processes; otherwise MPI is not
        // touched at all.
        const int status = SweepUnderMpi() ? RunSweepOnCluster(*options, std::cout, std::cerr)
                                           : RunSweep(*options, std::cout, std::cerr);
#else
        const int status = RunSweep(*options, std::cout, std::cerr);
#endif
        if (status != 0) {
            std::cout.flush();
            std::exit(status);
        }
    });
}

}  // namespace synapsor
