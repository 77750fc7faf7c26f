#include "MLP/Tool/Create.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <locale>
#include <random>
#include <sstream>

#include "FileHandler/NetworkFile.h"
#include "FileHandler/ParseTools.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"
#include "NeuralNets/ConnectedNetwork.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/MLPNetwork.h"

namespace synapsor {

namespace {

constexpr double kDefaultRange = 0.5;

// Every built-in function, in registration order; the names come from the network's registry.
const ActFunction kBuiltIns[] = {ActError,           ActNull,    ActBias, ActLinear,
                                 ActSaturatedLinear, ActSigmoid, ActTanh, ActLinearGain,
                                 ActSigmoidGain,     ActTanhGain};

// The functions a created layer may use: those the trainer can pass errors through.
std::string TrainableNames(const TFnRegistry& registry) {
    std::string names;
    for (ActFunction fn : kBuiltIns) {
        if (GetDerivativeKind(fn) == TDerivativeKind::None)
            continue;
        names += names.empty() ? "" : ", ";
        names += registry.GetName(fn);
    }
    return names;
}

ActFunction LayerFunction(const TFnRegistry& registry, const std::string& name,
                          const char* option) {
    const ActFunction fn = registry.FindFunction(name.c_str());
    if (fn == nullptr) {
        throw ToolError(std::string(option) + ": unknown activation function \"" + name +
                        "\"; use one of " + TrainableNames(registry));
    }
    if (GetDerivativeKind(fn) == TDerivativeKind::None) {
        throw ToolError(std::string(option) + ": the activation function \"" + name +
                        "\" cannot be trained through; use one of " + TrainableNames(registry));
    }
    return fn;
}

// A uniform double in [-a, a) from the generator's next 64 bits. The top 53 bits make a number
// k * 2^-53 in [0, 1); doubling and subtracting 1 is exact, so the only rounding is the one
// product, which IEEE arithmetic rounds the same way on every machine.
double DrawWeight(std::mt19937_64& generator, double a) {
    const double u = static_cast<double>(generator() >> 11) * 0x1.0p-53;
    const double w = a * (2.0 * u - 1.0);
    return w < a ? w : std::nextafter(a, 0.0);
}

// Weights, connection by connection in the network's matrix order (from-layer outer, to-layer
// inner), source neuron outer and destination neuron inner: the order fixes the file a seed
// gives.
void DrawWeights(TBasicNetwork& network, const CreateOptions& options, std::uint64_t seed) {
    std::mt19937_64 generator(seed);
    const int n = network.GetNumLayers();
    for (int from = 0; from < n; ++from) {
        for (int to = 0; to < n; ++to) {
            TBasicConnections* conns = network.GetConnections(from, to);
            if (!conns->IsConnected())
                continue;
            double a = options.range.value_or(kDefaultRange);
            if (options.init == "fan-in") {
                int fanIn = 0;
                for (int f = 0; f < n; ++f) {
                    if (network.GetConnections(f, to)->IsConnected())
                        fanIn += network.GetLayer(f)->numNodes;
                }
                a = 1.0 / std::sqrt(static_cast<double>(fanIn));
            }
            const int sources = network.GetLayer(from)->numNodes;
            const int targets = network.GetLayer(to)->numNodes;
            for (int s = 0; s < sources; ++s) {
                for (int d = 0; d < targets; ++d)
                    conns->GetWeight(s, d) = DrawWeight(generator, a);
            }
        }
    }
}

// Layers 0 (bias), 1 (input) and one computed layer per further size, for the basic and the
// connected network; a layer whose function reads a gain gets gain neurons.
void AddLayers(TBasicNetwork& network, const std::vector<int>& sizes, bool bias, ActFunction hidden,
               ActFunction output) {
    const int last = static_cast<int>(sizes.size());
    network.SetLayer(0, new TSimpleLayer(&network, 0, bias ? 1 : 0));
    if (bias)
        network.GetLayer(0)->SetActFunction(ActBias);
    network.SetLayer(1, new TSimpleInputLayer(&network, 1, sizes[0]));
    network.GetLayer(1)->SetActFunction(ActLinear);
    for (int j = 2; j <= last; ++j) {
        const ActFunction fn = j == last ? output : hidden;
        const int size = sizes[j - 1];
        TBasicLayer* layer = UsesGain(fn)
                                 ? static_cast<TBasicLayer*>(new TGainLayer(&network, j, size, 1.0))
                                 : new TSimpleLayer(&network, j, size);
        network.SetLayer(j, layer);
        layer->SetActFunction(fn);
        network.Connect(j - 1, j);
        if (bias)
            network.Connect(0, j);
    }
    network.inLayer = 1;
    network.outLayer = last;
}

// The network file reader refuses networks beyond its limits; a created network must read back.
void CheckSizes(const std::vector<int>& sizes, bool bias) {
    if (static_cast<std::int64_t>(sizes.size()) + 1 > kMaxNetworkLayers) {
        throw ToolError("--layers: " + std::to_string(sizes.size()) +
                        " layers; a network file holds at most " +
                        std::to_string(kMaxNetworkLayers - 1) + " besides the bias layer");
    }
    std::int64_t neurons = bias ? 1 : 0;
    std::int64_t cells = 0;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        neurons += sizes[i];
        if (i > 0)
            cells += static_cast<std::int64_t>(sizes[i]) * (sizes[i - 1] + (bias ? 1 : 0));
    }
    if (neurons > kMaxNetworkNeurons || cells > kMaxNetworkWeightCells) {
        throw ToolError("--layers: " + std::to_string(neurons) + " neurons and " +
                        std::to_string(cells) + " weights; a network file holds at most " +
                        std::to_string(kMaxNetworkNeurons) + " neurons and " +
                        std::to_string(kMaxNetworkWeightCells) + " weights");
    }
}

}  // namespace

std::vector<int> ParseLayerList(const std::string& text) {
    std::vector<int> sizes;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const char* first = text.data() + start;
        const char* last = text.data() + end;
        // "13, 8, 3" as the shell passes it when quoted.
        while (first < last && *first == ' ')
            ++first;
        while (last > first && last[-1] == ' ')
            --last;
        int size = 0;
        const std::from_chars_result r = std::from_chars(first, last, size);
        const std::string item(first, last);
        if (item.empty()) {
            throw ToolError("--layers \"" + text + "\": size " + std::to_string(sizes.size() + 1) +
                            " is missing; give the neurons per layer as in 13,8,3");
        }
        if (r.ec != std::errc() || r.ptr != last || size <= 0) {
            throw ToolError("--layers \"" + text + "\": \"" + item +
                            "\" is not a number of neurons (a whole number of at least 1)");
        }
        sizes.push_back(size);
        if (end == text.size())
            break;
        start = end + 1;
    }
    if (sizes.size() < 2) {
        throw ToolError("--layers \"" + text +
                        "\": give at least two sizes, the input and the output layer");
    }
    return sizes;
}

std::uint64_t ParseSeed(const std::string& text) {
    std::uint64_t seed = 0;
    const char* last = text.data() + text.size();
    const std::from_chars_result r = std::from_chars(text.data(), last, seed);
    if (text.empty() || r.ec != std::errc() || r.ptr != last) {
        throw ToolError("--seed \"" + text +
                        "\": give a whole number from 0 to 18446744073709551615");
    }
    return seed;
}

std::unique_ptr<TBasicNetwork> BuildNetwork(const CreateOptions& options, std::uint64_t seed) {
    const std::vector<int>& sizes = options.layers;
    if (sizes.size() < 2)
        throw ToolError("--layers: give at least two sizes, the input and the output layer");
    for (int size : sizes) {
        if (size <= 0)
            throw ToolError("--layers: every layer needs at least one neuron");
    }
    CheckSizes(sizes, options.bias);
    if (options.init != "fan-in" && options.init != "uniform")
        throw ToolError("--init \"" + options.init + "\": use fan-in or uniform");
    if (options.range && options.init != "uniform")
        throw ToolError("--range applies to --init uniform only");
    const double range = options.range.value_or(kDefaultRange);
    if (!(range > 0.0) || !std::isfinite(range)) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << "--range " << range << ": give a finite number above 0";
        throw ToolError(text.str());
    }

    std::unique_ptr<TBasicNetwork> network;
    const int numLayers = static_cast<int>(sizes.size());
    if (options.type == "mlp") {
        network = std::make_unique<TMLPNetwork>(numLayers, sizes.data(), options.bias);
    } else if (options.type == "basic") {
        network = std::make_unique<TBasicNetwork>(numLayers + 1);
    } else if (options.type == "connected") {
        network = std::make_unique<TConnectedNetwork>(numLayers + 1);
    } else {
        throw ToolError("--type \"" + options.type + "\": use mlp, basic or connected");
    }
    const TFnRegistry& registry = *network->GetFnRegistry();
    const ActFunction hidden = LayerFunction(registry, options.hidden, "--hidden");
    const ActFunction output = LayerFunction(registry, options.output, "--output");
    if (options.type == "mlp") {
        for (int j = 2; j <= numLayers; ++j)
            network->GetLayer(j)->SetActFunction(j == numLayers ? output : hidden);
    } else {
        AddLayers(*network, sizes, options.bias, hidden, output);
    }
    DrawWeights(*network, options, seed);
    return network;
}

void RunCreate(const CreateOptions& options, std::ostream& console, std::ostream& log) {
    std::uint64_t seed = 0;
    if (options.seed) {
        seed = *options.seed;
    } else {
        std::random_device device;
        seed = (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }
    std::unique_ptr<TBasicNetwork> network = BuildNetwork(options, seed);
    FileTools tools;
    WriteToolOutput(options.file, "network file", console,
                    [&](std::ostream& out) { tools.WriteNetwork(out, network.get()); });
    if (!options.seed)
        log << "synapsor-tool: create used --seed " << seed << std::endl;
}

void AddCreateCommand(CLI::App& app) {
    auto options = std::make_shared<CreateOptions>();
    auto layers = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand(
        "create", "Write a new network with random starting weights for the trainer");
    cmd->add_option("--layers", *layers,
                    "Neurons per layer, input layer first, output layer last (e.g. 13,8,3)")
        ->required();
    cmd->add_option("--hidden", options->hidden, "Activation function of the hidden layers")
        ->capture_default_str();
    cmd->add_option("--output", options->output, "Activation function of the output layer")
        ->capture_default_str();
    auto noBias = std::make_shared<bool>(false);
    cmd->add_flag("--no-bias", *noBias, "No bias neuron");
    cmd->add_option("--type", options->type, "Network type")
        ->check(CLI::IsMember({"mlp", "basic", "connected"}))
        ->capture_default_str();
    cmd->add_option("--init", options->init,
                    "Starting weights: fan-in draws from [-1/sqrt(n), 1/sqrt(n)) with n the "
                    "weights into the neuron; uniform from [-R, R)")
        ->check(CLI::IsMember({"fan-in", "uniform"}))
        ->capture_default_str();
    cmd->add_option("--range", options->range, "R for --init uniform (default 0.5)");
    auto seed = std::make_shared<std::string>();
    cmd->add_option("--seed", *seed,
                    "Seed of the weight generator, 0 to 18446744073709551615 (default: a fresh "
                    "one, printed on standard error)");
    cmd->add_option("-o,--output-file", options->file,
                    "Network file to write (- for standard "
                    "output)")
        ->required();
    cmd->callback([options, layers, noBias, seed] {
        options->bias = !*noBias;
        if (!seed->empty())
            options->seed = ParseSeed(*seed);
        options->layers = ParseLayerList(*layers);
        RunCreate(*options, std::cout, std::cerr);
    });
}

}  // namespace synapsor
