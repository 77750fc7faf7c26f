#include "FileHandler/NetworkFile.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Common/Assert.h"
#include "Common/StrCase.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ConnectedConnections.h"
#include "NeuralNets/ConnectedNetwork.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/MLPNetwork.h"
#include "NeuralNets/PrunedConnections.h"

namespace synapsor {

namespace {

bool Is(const std::string& word, const char* keyword) {
    return strcasecmp(word.c_str(), keyword) == 0;
}

std::string Num(long long value) {
    return std::to_string(value);  // integers only: no locale involved
}

std::string Quoted(const std::string& word) {
    return "\"" + word + "\"";
}

// --- Reader ---

// One pass of recursive descent over the statements of one network file. The network under
// construction is owned here until it is complete, so an error anywhere frees it.
class NetworkReader {
  public:
    NetworkReader(FileTools& t, std::istream& i) : tools(t), in(i) {}
    std::unique_ptr<TBasicNetwork> Read();

  private:
    [[noreturn]] void Fail(const std::string& message) { throw FileTools::Error(message, &in, 0); }
    void Next(const std::string& blockdef, bool continuation = false) {
        tools.ReadStatement(blockdef, in, continuation, st);
    }
    bool IsTag(const char* keyword) const {
        return st.kind == StatementKind::Tag && Is(st.keyword, keyword);
    }
    std::int32_t Integer(const std::string& text) { return tools.ParseInteger(in, text); }
    double Number(const std::string& text) { return tools.ParseNumber(in, text); }

    void ReadInformation();
    void CreateNetwork(const std::string& type);
    void ReadLayer();
    void CreateLayer(std::int32_t layerNum, std::int32_t numNeurons, const std::string& type);
    void ReadNeurons(std::int32_t layerNum, ActFunction layerFn);
    void CheckLayerFunctions(std::int32_t layerNum, bool functionGiven);
    void ReadConnections();
    void ReadMatrix(TBasicConnections& conns, bool fullyConnected);
    void ReadWeightList(TBasicConnections& conns, bool fullyConnected);

    ActFunction Function(const std::string& name, std::int32_t layerNum);
    // Index of the parameter of `neuron` named `name` (among the first maxParams), or -1.
    int FindParameter(TBasicNeuron* neuron, const std::string& name) const;
    std::string Position(const TBasicConnections& conns, int from, int to) const;

    FileTools& tools;
    std::istream& in;
    Statement st;
    std::unique_ptr<TBasicNetwork> net;
    std::string netBlock;

    std::int32_t numLayers = -1;
    std::int32_t inLayer = 1;
    std::int32_t outLayer = -1;
    std::int32_t biasLayer = -1;
    std::int32_t numInputs = -1;
    std::int32_t numOutputs = -1;
    std::int64_t weightCells = 0;

    // State of the layer block being read.
    TBasicLayer* layer = nullptr;
    int maxParams = 0;
    std::vector<double> params;
    std::vector<char> paramSet;
    std::vector<char> neuronDefined;
};

std::unique_ptr<TBasicNetwork> NetworkReader::Read() {
    Next({});
    netBlock = tools.ExpectBlockStart(st, in, "NEURALNETWORK");
    Next({});
    const std::string type = tools.ExpectStringStatement(st, in, "NETWORKTYPE");
    ReadInformation();
    CreateNetwork(type);

    Next(netBlock);
    while (st.kind == StatementKind::Assignment && Is(st.keyword, "LAYER"))
        ReadLayer();
    // Every layer slot must hold a layer: the forward pass and the weight matrices use them all.
    const int missing = net->GetMissingLayer();
    if (missing >= 0) {
        Fail("Layer " + Num(missing) + " is not defined (NumberOfLayers = " + Num(numLayers) + ")");
    }
    while (IsTag("CONNECTIONLAYER"))
        ReadConnections();

    tools.ExpectEndTag(st, in);
    Next({});
    tools.ExpectEndTag(st, in);
    return std::move(net);
}

void NetworkReader::ReadInformation() {
    Next({});
    const std::string infoBlock = tools.ExpectBlockStart(st, in, "NETWORKINFORMATION");
    for (Next(infoBlock); st.kind == StatementKind::Assignment; Next(infoBlock)) {
        if (st.open)
            Fail("Too complicated statement");
        const std::int32_t value = Integer(st.value);
        if (Is(st.keyword, "NUMBEROFLAYERS"))
            numLayers = value;
        else if (Is(st.keyword, "INPUTLAYER"))
            inLayer = value;
        else if (Is(st.keyword, "OUTPUTLAYER"))
            outLayer = value;
        else if (Is(st.keyword, "NUMBEROFINPUTS"))
            numInputs = value;
        else if (Is(st.keyword, "NUMBEROFOUTPUTS"))
            numOutputs = value;
        else if (Is(st.keyword, "BIASLAYER"))
            biasLayer = value;
        else
            Fail("Unknown keyword");
    }
    tools.ExpectEndTag(st, in);

    if (numLayers < 0)
        Fail("Must specify number of layers");
    if (numLayers > kMaxNetworkLayers) {
        Fail("NumberOfLayers = " + Num(numLayers) + " exceeds the limit of " +
             Num(kMaxNetworkLayers) + " layers");
    }
    if (outLayer < 0)
        outLayer = numLayers - 1;
    if (inLayer < 0 || inLayer >= numLayers) {
        Fail("InputLayer = " + Num(inLayer) +
             " must be a layer index below NumberOfLayers = " + Num(numLayers));
    }
    if (biasLayer >= numLayers) {
        Fail("BiasLayer = " + Num(biasLayer) +
             " must be a layer index below NumberOfLayers = " + Num(numLayers));
    }
    if (outLayer >= numLayers) {
        Fail("OutputLayer = " + Num(outLayer) +
             " must be a layer index below NumberOfLayers = " + Num(numLayers));
    }
}

void NetworkReader::CreateNetwork(const std::string& type) {
    if (Is(type, "BASIC"))
        net = std::make_unique<TBasicNetwork>(numLayers);
    else if (Is(type, "CONNECTED"))
        net = std::make_unique<TConnectedNetwork>(numLayers);
    else if (Is(type, "MLP") && numLayers < 2)
        // Layer 0 (bias) comes before the input layer: one layer leaves none to compute.
        Fail("NumberOfLayers = " + Num(numLayers) +
             " is too few for an MLP network, which has at "
             "least 2 layers");
    else if (Is(type, "MLP"))
        // The writer names the bias layer by its index, conventionally 0: any index declares one.
        net = std::make_unique<TMLPNetwork>(numLayers - 1, biasLayer >= 0);
    else
        Fail("Unknown network type");
    net->inLayer = inLayer;
    net->outLayer = outLayer;
}

ActFunction NetworkReader::Function(const std::string& name, std::int32_t layerNum) {
    const ActFunction fn = net->GetFnRegistry()->FindFunction(name.c_str());
    if (fn == nullptr)
        Fail("Unknown activation function " + Quoted(name) + " in layer " + Num(layerNum));
    return fn;
}

int NetworkReader::FindParameter(TBasicNeuron* neuron, const std::string& name) const {
    const int count = std::min(maxParams, neuron->GetNumParameters());
    for (int i = 0; i < count; ++i) {
        if (strcasecmp(name.c_str(), neuron->GetParameterName(i)) == 0)
            return i;
    }
    return -1;
}

void NetworkReader::ReadLayer() {
    const std::int32_t layerNum = Integer(st.value);
    if (layerNum < 0 || layerNum >= numLayers) {
        Fail("Layer index " + Num(layerNum) + " is outside 0 to " + Num(numLayers - 1));
    }
    const std::string layerBlock = st.keyword;
    const std::string where = " in layer " + Num(layerNum);
    std::int32_t numNeurons = -1;
    std::string type;
    ActFunction layerFn = nullptr;
    layer = nullptr;
    maxParams = 0;

    for (;;) {
        Next(layerBlock);
        if (IsTag("ALL")) {
            if (!st.open)
                Fail("[ALL] is incomplete statment");
            Next(layerBlock, true);
            if (st.kind != StatementKind::Assignment)
                Fail("Required syntax is [ALL <keyword>=<val>]");
        } else if (st.kind != StatementKind::Assignment) {
            break;
        }
        if (st.open)
            Fail("Too complicated statement");

        if (Is(st.keyword, "LAYERTYPE")) {
            if (layer != nullptr && !Is(st.value, type.c_str()))
                Fail("LayerType changed after the layer was created" + where);
            type = st.value;
        } else if (Is(st.keyword, "NUMBEROFNEURONS")) {
            const std::int32_t n = Integer(st.value);
            if (n < 0)
                Fail("NumberOfNeurons = " + Num(n) + " is negative" + where);
            if (layer != nullptr && n != numNeurons)
                Fail("NumberOfNeurons changed after the layer was created" + where);
            numNeurons = n;
        } else if (Is(st.keyword, "ACTIVATIONFUNCTION")) {
            layerFn = Function(st.value, layerNum);
        } else {
            if (layer == nullptr) {
                Fail("Unknown keyword or neuron parameter " + Quoted(st.keyword) +
                     " before LayerType and NumberOfNeurons" + where);
            }
            const int i = maxParams > 0 ? FindParameter(layer->GetNeuron(0), st.keyword) : -1;
            if (i < 0)
                Fail("Unknown keyword or neuron parameter " + Quoted(st.keyword) + where);
            params[i] = Number(st.value);
            paramSet[i] = 1;
        }
        if (numNeurons >= 0 && !type.empty() && layer == nullptr)
            CreateLayer(layerNum, numNeurons, type);
    }

    if (layer == nullptr)
        Fail("Layer " + Num(layerNum) + " needs both LayerType and NumberOfNeurons");
    if (layerFn != nullptr)
        layer->SetActFunction(layerFn);

    const bool neuronsBlock = IsTag("NEURONS");
    if (neuronsBlock) {
        ReadNeurons(layerNum, layerFn);
        // The statement after the block is read before the block is checked for completeness.
        Next(layerBlock);
        for (int n = 0; n < layer->numNodes; ++n) {
            if (!neuronDefined[n])
                Fail("Neuron not defined");
        }
    } else {
        for (int i = 0; i < maxParams; ++i) {
            if (!paramSet[i])
                Fail("Incomplete Layer information");
        }
        for (int n = 0; n < layer->numNodes; ++n)
            layer->GetNeuron(n)->SetParameters(params.data());
    }
    tools.ExpectEndTag(st, in);
    CheckLayerFunctions(layerNum, layerFn != nullptr || neuronsBlock);
    Next(netBlock);
}

void NetworkReader::CreateLayer(std::int32_t layerNum, std::int32_t numNeurons,
                                const std::string& type) {
    if (layerNum == inLayer && numInputs >= 0 && numInputs != numNeurons)
        Fail("wrong number inputs in header");
    if (layerNum == outLayer && numOutputs >= 0 && numOutputs != numNeurons)
        Fail("wrong number outputs in header");

    std::int64_t total = numNeurons;
    for (int i = 0; i < numLayers; ++i) {
        if (i != layerNum && net->layers[i] != nullptr)
            total += net->layers[i]->numNodes;
    }
    if (total > kMaxNetworkNeurons) {
        Fail("Layer " + Num(layerNum) + " brings the network to " + Num(total) +
             " neurons, more than the limit of " + Num(kMaxNetworkNeurons));
    }

    std::unique_ptr<TBasicLayer> created;
    if (Is(type, "SIMPLE"))
        created = std::make_unique<TSimpleLayer>(net.get(), layerNum, numNeurons);
    else if (Is(type, "INPUT"))
        created = std::make_unique<TSimpleInputLayer>(net.get(), layerNum, numNeurons);
    else if (Is(type, "GAIN"))
        created = std::make_unique<TGainLayer>(net.get(), layerNum, numNeurons, 1.0);
    else
        Fail("Unknown layer type");
    layer = created.get();
    net->SetLayer(layerNum, created.release());  // a layer read earlier with this index goes

    maxParams = 0;
    for (int n = 0; n < numNeurons; ++n)
        maxParams = std::max(maxParams, layer->GetNeuron(n)->GetNumParameters());
    params.assign(maxParams, 0.0);
    paramSet.assign(maxParams, 0);
    neuronDefined.assign(numNeurons, 0);
}

void NetworkReader::ReadNeurons(std::int32_t layerNum, ActFunction layerFn) {
    const std::string neuronsBlock = st.keyword;
    for (Next(neuronsBlock); st.kind == StatementKind::Assignment && Is(st.keyword, "NEURON");
         Next(neuronsBlock)) {
        const std::int32_t j = Integer(st.value);
        if (j < 0 || j >= layer->numNodes) {
            Fail("Neuron index " + Num(j) + " is outside 0 to " + Num(layer->numNodes - 1) +
                 " in layer " + Num(layerNum));
        }
        if (neuronDefined[j])
            Fail("repeated neuron");
        TBasicNeuron* neuron = layer->GetNeuron(j);
        ActFunction own = nullptr;
        while (st.open) {
            Next(neuronsBlock, true);
            if (st.kind != StatementKind::Assignment)
                Fail("Equals clause expected in neuron parameter");
            if (Is(st.keyword, "ACTIVATIONFUNCTION")) {
                own = Function(st.value, layerNum);
            } else {
                const int i = FindParameter(neuron, st.keyword);
                if (i < 0) {
                    Fail("Unknown neuron parameter " + Quoted(st.keyword) + " of neuron " + Num(j) +
                         " in layer " + Num(layerNum));
                }
                params[i] = Number(st.value);  // carried on to the following neurons
            }
        }
        neuron->SetParameters(params.data());
        if (layerFn == nullptr) {
            if (own == nullptr)
                Fail("No activation function defined");
            neuron->SetActFunction(own);
        }
        neuronDefined[j] = 1;
    }
    tools.ExpectEndTag(st, in);
}

// A Simple or Gain layer applies its neurons' functions on every forward pass (an Input layer
// never does), so none of them may be "error" (never set) or "null"; and the gain functions read
// a gain that only the neurons of a Gain layer have.
void NetworkReader::CheckLayerFunctions(std::int32_t layerNum, bool functionGiven) {
    const bool computed = dynamic_cast<TSimpleInputLayer*>(layer) == nullptr;
    for (int n = 0; n < layer->numNodes; ++n) {
        TBasicNeuron* neuron = layer->GetNeuron(n);
        const ActFunction fn = neuron->GetActFunction();
        if (computed && (fn == ActError || fn == ActNull)) {
            if (!functionGiven)
                Fail("No activation function defined for layer " + Num(layerNum));
            Fail(std::string("Activation function \"") + net->GetFnRegistry()->GetName(fn) +
                 "\" cannot compute neuron " + Num(n) + " of layer " + Num(layerNum));
        }
        if (UsesGain(fn) && dynamic_cast<TGainNeuron*>(neuron) == nullptr) {
            Fail(std::string("Activation function \"") + net->GetFnRegistry()->GetName(fn) +
                 "\" needs a Gain layer; layer " + Num(layerNum) + " is of type " +
                 layer->GetTypeName());
        }
    }
    // The writer describes a bias layer by its one neuron: refuse here what could not be saved.
    if (layer->numNodes > 1 && layer->GetActFunction() == ActBias) {
        Fail("Illegal number of bias nodes: layer " + Num(layerNum) + " has " +
             Num(layer->numNodes) + " bias neurons, a bias layer has one");
    }
}

std::string NetworkReader::Position(const TBasicConnections& conns, int from, int to) const {
    return " at From = " + Num(from) + ", To = " + Num(to) + " (layer " + Num(conns.fromLayer) +
           " to layer " + Num(conns.toLayer) + ")";
}

void NetworkReader::ReadConnections() {
    const std::string connBlock = st.keyword;
    std::int32_t from = -1;
    std::int32_t to = -1;
    std::string type;
    for (Next(connBlock); st.kind == StatementKind::Assignment || IsTag("ATTRIBUTES");
         Next(connBlock)) {
        if (st.kind == StatementKind::Tag) {
            while (st.open)
                Next(connBlock, true);  // attributes are informative only
            continue;
        }
        if (st.open)
            Fail("Too complicated statement");
        if (Is(st.keyword, "LAYERFROM"))
            from = Integer(st.value);
        else if (Is(st.keyword, "LAYERTO"))
            to = Integer(st.value);
        else if (Is(st.keyword, "CONNECTIONTYPE"))
            type = st.value;
        else
            Fail("Unknown keyword in connections");
    }

    const bool fully = Is(type, "FULLYCONNECTED");
    if (from < 0 || to < 0 || (!fully && !Is(type, "PRUNEABLE")))
        Fail("Insufficient information to construct layer");
    if (from >= numLayers || to >= numLayers) {
        Fail("Connections from layer " + Num(from) + " to layer " + Num(to) +
             " name a layer outside 0 to " + Num(numLayers - 1));
    }
    if (net->GetConnections(from, to)->IsConnected())
        Fail("Connections already defined");

    const int nFrom = net->layers[from]->numNodes;
    const int nTo = net->layers[to]->numNodes;
    weightCells += std::int64_t{nFrom} * nTo;
    if (weightCells > kMaxNetworkWeightCells) {
        Fail("Connections from layer " + Num(from) + " to layer " + Num(to) +
             " bring the network to " + Num(weightCells) + " weights, more than the limit of " +
             Num(kMaxNetworkWeightCells));
    }
    TBasicConnections* conns =
        fully ? static_cast<TBasicConnections*>(new TConnectedConnections(net.get(), from, to))
              : new TPrunedConnections(net.get(), from, to);
    net->SetConnections(from, to, conns);  // owned by the network from here on
    if (!fully) {
        // A pruneable matrix starts empty: only the weight blocks create connections.
        for (int f = 0; f < nFrom; ++f) {
            for (int t = 0; t < nTo; ++t)
                conns->Prune(f, t);
        }
    }

    for (;;) {
        if (IsTag("MATRIX"))
            ReadMatrix(*conns, fully);
        else if (IsTag("WEIGHTLIST"))
            ReadWeightList(*conns, fully);
        else
            break;
        Next(connBlock);
    }
    tools.ExpectEndTag(st, in);
    Next(netBlock);
}

void NetworkReader::ReadMatrix(TBasicConnections& conns, bool fullyConnected) {
    constexpr std::size_t kMaxColumns = 9;
    const std::string matrixBlock = st.keyword;
    std::vector<bool> weightColumn;  // per column: true for Weights, false for TrainableInfo
    while (st.open) {
        Next(matrixBlock, true);
        if (st.kind != StatementKind::Tag)
            Fail("Keyword expected in matrix parameter");
        const bool weights = Is(st.keyword, "WEIGHTS");
        if (!weights && !Is(st.keyword, "TRAINABLEINFO"))
            Fail("Unknown matrix attribute");
        if (weightColumn.size() == kMaxColumns)
            Fail("A matrix has at most " + Num(kMaxColumns) + " columns");
        weightColumn.push_back(weights);
    }

    const int nFrom = net->layers[conns.fromLayer]->numNodes;
    const int nTo = net->layers[conns.toLayer]->numNodes;
    for (int f = 0; f < nFrom && !weightColumn.empty(); ++f) {
        for (int t = 0; t < nTo; ++t) {
            for (const bool weights : weightColumn) {
                Next(matrixBlock);
                if (st.kind != StatementKind::Token)
                    Fail("Token Expected");
                if (weights) {
                    if (st.keyword == "-") {
                        if (fullyConnected) {
                            Fail("A FullyConnected matrix cannot leave out a connection (\"-\")" +
                                 Position(conns, f, t));
                        }
                        conns.Prune(f, t);
                    } else {
                        const double w = Number(st.keyword);
                        conns.Unprune(f, t);
                        conns.GetWeight(f, t) = w;
                    }
                } else if (Is(st.keyword, "T")) {
                    conns.SetTrainable(f, t);
                } else if (Is(st.keyword, "F")) {
                    if (fullyConnected) {
                        Fail("A FullyConnected matrix cannot hold untrainable weights (\"F\")" +
                             Position(conns, f, t));
                    }
                    conns.SetUntrainable(f, t);
                } else if (conns.IsValid(f, t)) {
                    Fail("TrainableInfo must be T or F for an existing connection, found " +
                         Quoted(st.keyword) + Position(conns, f, t));
                }
            }
        }
    }
    Next(matrixBlock);
    tools.ExpectEndTag(st, in);
}

void NetworkReader::ReadWeightList(TBasicConnections& conns, bool fullyConnected) {
    const std::string listBlock = st.keyword;
    const int nFrom = net->layers[conns.fromLayer]->numNodes;
    const int nTo = net->layers[conns.toLayer]->numNodes;
    for (Next(listBlock); st.kind == StatementKind::Tag || st.kind == StatementKind::Assignment;
         Next(listBlock)) {
        std::int32_t from = -1;
        std::int32_t to = -1;
        double weight = 0.0;
        bool trainable = true;
        for (;;) {
            if (st.kind == StatementKind::Assignment) {
                if (Is(st.keyword, "FROM"))
                    from = Integer(st.value);
                else if (Is(st.keyword, "TO"))
                    to = Integer(st.value);
                else if (Is(st.keyword, "WEIGHT"))
                    weight = Number(st.value);
                else
                    Fail("Unknown keyword in weights list");
            } else if (Is(st.keyword, "TRAINABLE")) {
                trainable = true;
            } else if (Is(st.keyword, "UNTRAINABLE")) {
                trainable = false;
            } else {
                std::cout << st.keyword << std::endl;
                Fail("Unknown keyword in weights list");
            }
            if (!st.open)
                break;
            Next(listBlock, true);
        }
        if (from < 0 || to < 0)
            Fail("Insufficient information in weights list");
        if (from >= nFrom || to >= nTo) {
            Fail("Weight list entry outside layers of " + Num(nFrom) + " and " + Num(nTo) +
                 " neurons" + Position(conns, from, to));
        }
        if (!trainable && fullyConnected) {
            Fail("A FullyConnected matrix cannot hold untrainable weights (UnTrainable)" +
                 Position(conns, from, to));
        }
        conns.Unprune(from, to);
        if (trainable)
            conns.SetTrainable(from, to);
        else
            conns.SetUntrainable(from, to);
        conns.GetWeight(from, to) = weight;
    }
    tools.ExpectEndTag(st, in);
}

// --- Writer ---

void PutText(std::ostream& out, std::string_view text) {
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
}

void PutRight(std::ostream& out, std::string_view text, std::size_t width) {
    for (std::size_t i = text.size(); i < width; ++i)
        out.put(' ');
    PutText(out, text);
}

std::string IntegerText(long long value) {
    char text[24];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    return std::string(text, r.ptr);
}

// General notation with 15 significant digits, as "%.15g" writes it, whatever the locale.
std::string MatrixNumberText(double value) {
    char text[64];
    const std::to_chars_result r =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    SYN_ASSERT(r.ec == std::errc());
    return std::string(text, r.ptr);
}

constexpr int kPrecision = 15;

class NetworkWriter {
  public:
    NetworkWriter(FileTools& t, std::ostream& o, TBasicNetwork& n) : tools(t), out(o), net(n) {}
    void Write();

  private:
    void WriteLayer(int i);
    void WriteConnections(TBasicConnections& conns, int f, int t);
    void WriteMatrix(TBasicConnections& conns, int nFrom, int nTo, bool pruneable);
    // "[" + items + "]" and a line end; each item writes itself bare, followed by a space.
    void OpenBracket() { out.put('['); }
    void CloseBracket() {
        out.put(']');
        tools.WriteNewLine(out);
    }

    FileTools& tools;
    std::ostream& out;
    TBasicNetwork& net;
};

void NetworkWriter::Write() {
    const int n = net.n_layers;
    const int missing = net.GetMissingLayer();
    if (missing >= 0)
        throw FileTools::Error("Cannot write the network: layer " + Num(missing) + " is missing");
    if (net.inLayer < 0 || net.inLayer >= n || net.outLayer < 0 || net.outLayer >= n) {
        throw FileTools::Error("Cannot write the network: input layer " + Num(net.inLayer) +
                               " or output layer " + Num(net.outLayer) + " is not one of its " +
                               Num(n) + " layers");
    }

    out.precision(kPrecision);
    tools.WriteFormatVersion(out);
    tools.WriteBlockStart(out, "NeuralNetwork");
    tools.WriteStringStatement(out, "NetworkType", net.GetTypeName());
    tools.WriteNewLine(out);

    tools.WriteBlockStart(out, "NetworkInformation");
    tools.WriteIntegerStatement(out, "NumberOfLayers", n);
    tools.WriteIntegerStatement(out, "InputLayer", net.inLayer);
    tools.WriteIntegerStatement(out, "OutputLayer", net.outLayer);
    tools.WriteIntegerStatement(out, "NumberOfInputs", net.layers[net.inLayer]->numNodes);
    tools.WriteIntegerStatement(out, "NumberOfOutputs", net.layers[net.outLayer]->numNodes);
    for (int i = 0; i < n; ++i) {
        TBasicLayer& layer = *net.layers[i];
        if (layer.numNodes > 0 && layer.GetActFunction() == ActBias) {
            if (layer.numNodes != 1)
                throw FileTools::Error("Illegal number of bias nodes", nullptr, 0);
            tools.WriteIntegerStatement(out, "BiasLayer", i);
        }
    }
    tools.WriteEndTag(out, "NetworkInformation");

    for (int i = 0; i < n; ++i)
        WriteLayer(i);
    for (int f = 0; f < n; ++f) {
        for (int t = 0; t < n; ++t) {
            TBasicConnections& conns = *net.priv_conns_index[t][f];
            if (conns.IsConnected())
                WriteConnections(conns, f, t);
        }
    }
    tools.WriteNewLine(out);
    tools.WriteEndTag(out, "NeuralNetwork");
}

void NetworkWriter::WriteLayer(int i) {
    TBasicLayer& layer = *net.layers[i];
    const TFnRegistry& registry = *net.GetFnRegistry();
    tools.WriteNewLine(out);
    tools.WriteIntegerStatement(out, "Layer", i);
    tools.WriteStringStatement(out, "LayerType", layer.GetTypeName());
    tools.WriteIntegerStatement(out, "NumberOfNeurons", layer.numNodes);

    const ActFunction common = layer.GetActFunction();
    if (common != nullptr) {
        OpenBracket();
        tools.WriteBlockStart(out, "All", false);
        tools.WriteStringStatement(out, "ActivationFunction", registry.GetName(common), false);
        CloseBracket();
    }
    if (layer.numNodes == 0) {
        tools.WriteEndTag(out, "Layer");
        return;
    }

    // Parameters equal (in name and value) on every neuron are written once for the layer.
    TBasicNeuron* first = layer.GetNeuron(0);
    const int numParams = first->GetNumParameters();
    std::vector<double> firstValues(numParams);
    first->GetParameters(firstValues.data());
    std::vector<char> same(numParams, 1);
    std::vector<double> values;
    for (int n = 1; n < layer.numNodes; ++n) {
        TBasicNeuron* neuron = layer.GetNeuron(n);
        const int count = neuron->GetNumParameters();
        values.assign(std::max(count, 1), 0.0);
        neuron->GetParameters(values.data());
        for (int k = 0; k < numParams; ++k) {
            if (same[k] && (k >= count || values[k] != firstValues[k] ||
                            strcasecmp(neuron->GetParameterName(k), first->GetParameterName(k)))) {
                same[k] = 0;
            }
        }
    }
    bool allCommon = true;
    for (int k = 0; k < numParams; ++k) {
        if (!same[k]) {
            allCommon = false;
            continue;
        }
        OpenBracket();
        tools.WriteBlockStart(out, "All", false);
        tools.WriteNumberStatement(out, first->GetParameterName(k), firstValues[k], kPrecision,
                                   false);
        CloseBracket();
    }

    if (common == nullptr || !allCommon) {
        tools.WriteBlockStart(out, "Neurons");
        for (int n = 0; n < layer.numNodes; ++n) {
            TBasicNeuron* neuron = layer.GetNeuron(n);
            OpenBracket();
            tools.WriteIntegerStatement(out, "Neuron", n, false);
            if (common == nullptr) {
                tools.WriteStringStatement(out, "ActivationFunction",
                                           registry.GetName(neuron->GetActFunction()), false);
            }
            const int count = std::min(numParams, neuron->GetNumParameters());
            values.assign(std::max(neuron->GetNumParameters(), 1), 0.0);
            neuron->GetParameters(values.data());
            for (int k = 0; k < count; ++k) {
                if (!same[k]) {
                    tools.WriteNumberStatement(out, neuron->GetParameterName(k), values[k],
                                               kPrecision, false);
                }
            }
            CloseBracket();
        }
        tools.WriteEndTag(out, "Neurons");
    }
    tools.WriteEndTag(out, "Layer");
}

void NetworkWriter::WriteConnections(TBasicConnections& conns, int f, int t) {
    const std::string type = conns.GetConnectionsNType();
    const bool pruneable = !Is(type, "FullyConnected");
    tools.WriteNewLine(out);
    tools.WriteBlockStart(out, "ConnectionLayer");
    tools.WriteIntegerStatement(out, "LayerFrom", f);
    tools.WriteIntegerStatement(out, "LayerTo", t);
    tools.WriteStringStatement(out, "ConnectionType", type);
    OpenBracket();
    tools.WriteBlockStart(out, "Attributes", false);
    tools.WriteBlockStart(out, pruneable ? "Pruneable" : "UnPrunable", false);
    tools.WriteBlockStart(out, pruneable ? "Freezable" : "UnFreezable", false);
    CloseBracket();

    TIterateObjGetNumWeights counter;
    conns.Iterate(counter, FMaskExists);
    const int nFrom = net.layers[f]->numNodes;
    const int nTo = net.layers[t]->numNodes;
    const double total = static_cast<double>(nFrom) * static_cast<double>(nTo);
    if (total * 0.35 > counter.count) {
        // Fewer than 35% of the possible connections exist: a list is shorter than a matrix.
        tools.WriteBlockStart(out, "WeightList");
        TIterateObjSaveWeights saver(out, tools, pruneable, kPrecision);
        conns.Iterate(saver, FMaskExists);
        tools.WriteEndTag(out, "WeightList");
    } else {
        WriteMatrix(conns, nFrom, nTo, pruneable);
    }
    tools.WriteEndTag(out, "ConnectionLayer");
}

void NetworkWriter::WriteMatrix(TBasicConnections& conns, int nFrom, int nTo, bool pruneable) {
    OpenBracket();
    tools.WriteBlockStart(out, "Matrix", false);
    tools.WriteBlockStart(out, "Weights", false);
    if (pruneable)
        tools.WriteBlockStart(out, "TrainableInfo", false);
    CloseBracket();

    // Column heads line up with the weights: 20 characters, a space and, when pruneable, the
    // flag and its space per column.
    PutText(out, "/* To->");
    for (int d = 0; d < nTo; ++d) {
        const std::size_t width = d == 0 ? (pruneable ? 15 : 13) : (pruneable ? 23 : 21);
        PutRight(out, IntegerText(d), width);
    }
    PutText(out, "  From */");
    tools.WriteNewLine(out);

    for (int s = 0; s < nFrom; ++s) {
        for (int d = 0; d < nTo; ++d) {
            const bool exists = conns.IsValid(s, d);
            PutRight(out, exists ? MatrixNumberText(conns.GetWeight(s, d)) : "-", 20);
            out.put(' ');
            if (pruneable)
                PutText(out, !exists ? "- " : conns.IsTrainable(s, d) ? "T " : "F ");
        }
        PutText(out, " /* ");
        PutText(out, IntegerText(s));
        PutText(out, " */");
        tools.WriteNewLine(out);
    }
    tools.WriteEndTag(out, "Matrix");
}

}  // namespace

void TIterateObjSaveWeights::Visit() {
    out.put('[');
    tools.WriteIntegerStatement(out, "From", from, false);
    tools.WriteIntegerStatement(out, "To", to, false);
    tools.WriteNumberStatement(out, "Weight", *weight, precision, false);
    if (writeTrainable)
        tools.WriteBlockStart(out, trainable ? "Trainable" : "UnTrainable", false);
    out.put(']');
    tools.WriteNewLine(out);
}

std::unique_ptr<TBasicNetwork> FileTools::ReadNetworkFile(const char* file, TKQstructure* error) {
    std::unique_ptr<TKQstructure> released(error);
    SYN_ASSERT(file != nullptr);
    std::ifstream in(file, std::ios::in | std::ios::binary);
    try {
        if (!in.is_open()) {
            Error e("Error on File Open", &in, 0);
            e.openFailure = OpenFailureReason(file);
            throw e;
        }
        return ReadNetwork(in, nullptr);
    } catch (Error& e) {
        e.file = file;
        e.stream = nullptr;  // the file stream ends here; the error must not point at it
        throw;
    }
}

std::unique_ptr<TBasicNetwork> FileTools::ReadNetwork(std::istream& in, TKQstructure* error) {
    std::unique_ptr<TKQstructure> released(error);
    BeginText(in);
    try {
        return NetworkReader(*this, in).Read();
    } catch (Error& e) {
        Locate(e);
        throw;
    }
}

void FileTools::WriteNetworkFile(const char* file, TBasicNetwork* network, TKQstructure* error) {
    std::unique_ptr<TKQstructure> released(error);
    SYN_ASSERT(file != nullptr);
    std::ofstream out(file, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out.is_open())
        throw Error(std::string("Cannot create network file \"") + file + "\"", nullptr, 0);
    WriteNetwork(out, network, nullptr);
    out.close();
    if (out.fail())
        throw Error(std::string("Error writing network file \"") + file + "\"", nullptr, 0);
}

void FileTools::WriteNetwork(std::ostream& out, TBasicNetwork* network, TKQstructure* error) {
    std::unique_ptr<TKQstructure> released(error);
    SYN_ASSERT(network != nullptr);
    NetworkWriter(*this, out, *network).Write();
}

}  // namespace synapsor
