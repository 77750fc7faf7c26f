#include "NeuralNets/MLPNetwork.h"

#include <cstddef>
#include <string>
#include <vector>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "NeuralNets/ErrorObj.h"

namespace synapsor {

TMLPNetwork::TMLPNetwork(int numLayers, const int* sizes, bool bias) : hasBias(bias) {
    SYN_ASSERT(numLayers >= 1);
    SYN_ASSERT(sizes != nullptr);
    for (int i = 0; i < numLayers; ++i)
        SYN_ASSERT(sizes[i] >= 0);
    Init(numLayers + 1);
    SetLayer(0, new TSimpleLayer(this, 0, hasBias ? 1 : 0));
    SetLayer(1, new TSimpleInputLayer(this, 1, sizes[0]));
    for (int i = 2; i <= numLayers; ++i)
        SetLayer(i, new TGainLayer(this, i, sizes[i - 1], 1.0));
    GetLayer(1)->SetActFunction(ActLinear);
    for (int j = 2; j <= numLayers; ++j) {
        Connect(j - 1, j);
        GetLayer(j)->SetActFunction(ActSigmoid);
    }
    if (hasBias) {
        GetLayer(0)->SetActFunction(ActBias);
        for (int j = 2; j <= numLayers; ++j)
            Connect(0, j);
    }
    inLayer = 1;
}

TMLPNetwork::TMLPNetwork(int numLayers, bool bias) : hasBias(bias) {
    SYN_ASSERT(numLayers >= 1);
    Init(numLayers + 1);
}

namespace {

// The null pointer as the checks below spell it.
constexpr std::nullptr_t nil = nullptr;

[[noreturn]] void Mismatch(const char* what, int delivered, const char* layer, int size,
                           const char* location) {
    const std::string message = std::string("The data set delivers ") + std::to_string(delivered) +
                                " " + what + " per row, the " + layer + " has " +
                                std::to_string(size) + " neurons";
    throw TException(message.c_str(), "Bad Parameter", location);
}

// The number of input values GetNext writes: the selected columns when a selection is in force.
int DeliveredInputs(const Data& in) {
    int count = 0;
    std::unique_ptr<int[]> cols;
    in.GetInputFeatures(&count, &cols);
    return count > 0 ? count : in.MbrNdxInputs;
}

}  // namespace

// The passes below write every row's inputs into a buffer of the input layer's size (and the
// targets into one of the output layer's size), so a data set of another shape is refused
// before anything is read.
void TMLPNetwork::CheckInputs(const Data& in, const char* location) const {
    const int size = GetLayer(inLayer)->numNodes;
    const int delivered = DeliveredInputs(in);
    if (delivered != size)
        Mismatch("inputs", delivered, "network's input layer", size, location);
}

std::unique_ptr<Data> TMLPNetwork::RecallData(Data* in) {
    SYN_ASSERT(in != nil);
    CheckInputs(*in, "TMLPNetwork::RecallData");
    const int nIn = GetLayer(inLayer)->numNodes;
    const int nOut = GetLayer(outLayer)->numNodes;
    auto result = std::make_unique<Data>(in->MbrNdxRows, nIn, nOut, false);
    std::vector<double> input(static_cast<std::size_t>(nIn));
    std::vector<double> output(static_cast<std::size_t>(nOut));
    in->MbrNdxCurrent = in->MbrNdxLast;
    // Only the held rows: a pass over every slot of a data set that is not full would deliver
    // its oldest rows a second time.
    for (int row = 0; row < in->MbrNdxDataRows; ++row) {
        in->GetNext(input.data(), nullptr, nullptr);
        Recall(input.data(), output.data());
        result->AppendRow(input.data(), output.data(), nullptr);
    }
    return result;
}

void TMLPNetwork::RecallOutputOnly(Data* in, std::unique_ptr<Data>* out) {
    if (in == nullptr)
        throw TException("Null data pointer", "Null Pointer Parameter", "TQorm::RecallOutputOnly");
    SYN_ASSERT(out != nullptr);
    CheckInputs(*in, "TMLPNetwork::RecallOutputOnly");
    const int nIn = GetLayer(inLayer)->numNodes;
    const int nOut = GetLayer(outLayer)->numNodes;
    *out = std::make_unique<Data>(in->MbrNdxDataRows, 0, nOut, false);
    Data* result = out->get();
    std::vector<double> input(static_cast<std::size_t>(nIn));
    std::vector<double> output(static_cast<std::size_t>(nOut));
    in->MbrNdxCurrent = in->MbrNdxLast;
    for (int row = 0; row < in->MbrNdxDataRows; ++row) {
        in->GetNext(input.data(), nullptr, nullptr);
        Recall(input.data(), output.data());
        result->AppendRow(nullptr, output.data(), nullptr);
    }
}

double TMLPNetwork::ComputeError(Data* in, TErrorObj* error) {
    SYN_ASSERT(in != nil);
    TErrorObj* const err = error;
    SYN_ASSERT(err != nil);
    const char* location = "TMLPNetwork::ComputeError";
    CheckInputs(*in, location);
    const int nIn = GetLayer(inLayer)->numNodes;
    const int nOut = GetLayer(outLayer)->numNodes;
    if (in->MbrNdxOutputs != nOut)
        Mismatch("targets", in->MbrNdxOutputs, "network's output layer", nOut, location);
    if (error->numOutputs != nOut) {
        const std::string message =
            "The error object compares " + std::to_string(error->numOutputs) +
            " outputs, the network's output layer has " + std::to_string(nOut) + " neurons";
        throw TException(message.c_str(), "Bad Parameter", location);
    }
    std::vector<double> input(static_cast<std::size_t>(nIn));
    std::vector<double> target(static_cast<std::size_t>(nOut));
    std::vector<double> output(static_cast<std::size_t>(nOut));
    in->MbrNdxCurrent = in->MbrNdxLast;
    for (int row = 0; row < in->MbrNdxDataRows; ++row) {
        in->GetNext(input.data(), target.data(), nullptr);
        Recall(input.data(), output.data());
        error->AddPattern(target.data(), output.data());
    }
    return error->GetError();
}

}  // namespace synapsor
