#include "NeuralNets/ConnectedConnections.h"

#include <cstddef>
#include <utility>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

namespace {

std::size_t Cells(int nFrom, int nTo) {
    return static_cast<std::size_t>(nFrom) * static_cast<std::size_t>(nTo);
}

const char kConnectedType[] = "FullyConnected";

}  // namespace

TConnectedConnections::TConnectedConnections(TBasicNetwork* owner, int fromLayer, int toLayer)
    : TBasicConnections(owner, fromLayer, toLayer) {
    const int nFrom = NumFrom();
    const int nTo = NumTo();
    Reshape(nFrom, nTo, std::vector<double>(Cells(nFrom, nTo), 0.0));
}

TConnectedConnections::TConnectedConnections(TBasicNetwork* owner, int fromLayer, int toLayer,
                                             int nFrom, int nTo, std::vector<double> weights)
    : TBasicConnections(owner, fromLayer, toLayer) {
    Reshape(nFrom, nTo, std::move(weights));
}

void TConnectedConnections::Reshape(int nFrom, int nTo, std::vector<double>&& weights) {
    SYN_ASSERT(nFrom >= 0 && nTo >= 0);
    SYN_ASSERT(weights.size() == Cells(nFrom, nTo));
    array_weights = std::move(weights);
    index_weights.assign(static_cast<std::size_t>(nTo), nullptr);
    for (int to = 0; to < nTo; ++to)
        index_weights[to] = array_weights.data() + Cells(nFrom, to);
    numFrom = nFrom;
    numTo = nTo;
}

void TConnectedConnections::CheckShape() const {
    SYN_ASSERT(numFrom == NumFrom() && numTo == NumTo());
}

int TConnectedConnections::GetNumWeights(int /*maskFilter*/) {
    CheckShape();
    return numFrom * numTo;
}

int TConnectedConnections::GetWeights(double* out, int /*maskFilter*/) {
    CheckShape();
    for (int from = 0; from < numFrom; ++from)
        for (int to = 0; to < numTo; ++to)
            *out++ = index_weights[to][from];
    return numFrom * numTo;
}

int TConnectedConnections::SetWeights(const double* in, int /*maskFilter*/) {
    CheckShape();
    for (int from = 0; from < numFrom; ++from)
        for (int to = 0; to < numTo; ++to)
            index_weights[to][from] = *in++;
    return numFrom * numTo;
}

void TConnectedConnections::Randomize(double lo, double hi) {
    CheckShape();
    if (lo == hi) {
        array_weights.assign(array_weights.size(), lo);
        return;
    }
    for (double& w : array_weights)
        w = RandomWeight(lo, hi);
}

void TConnectedConnections::AddNetInputs(double* net) {
    CheckShape();
    const double* values = network->GetLayer(fromLayer)->values.data();
    for (int to = 0; to < numTo; ++to) {
        const double* row = index_weights[to];
        double sum = 0.0;
        for (int from = 0; from < numFrom; ++from)
            sum += row[from] * values[from];
        net[to] += sum;
    }
}

void TConnectedConnections::Prune(int /*from*/, int /*to*/) {
    throw TException("Fully connected weights cannot be pruned", "Bad Parameter",
                     "TConnectedConnections::Prune");
}

void TConnectedConnections::SetUntrainable(int /*from*/, int /*to*/) {
    throw TException("Fully connected weights cannot be frozen", "Bad Parameter",
                     "TConnectedConnections::SetUntrainable");
}

void TConnectedConnections::IterateTo(TIterateObj& v, int to, int /*maskFilter*/) {
    CheckShape();
    SYN_ASSERT(to >= 0 && to < numTo);
    v.Bind(network->GetLayer(fromLayer), network->GetLayer(toLayer));
    v.trainable = true;
    double* row = index_weights[to];
    for (int from = 0; from < numFrom; ++from) {
        v.from = from;
        v.to = to;
        v.weight = row + from;
        v.Visit();
    }
}

void TConnectedConnections::IterateFrom(TIterateObj& v, int from, int /*maskFilter*/) {
    CheckShape();
    SYN_ASSERT(from >= 0 && from < numFrom);
    v.Bind(network->GetLayer(fromLayer), network->GetLayer(toLayer));
    v.trainable = true;
    for (int to = 0; to < numTo; ++to) {
        v.from = from;
        v.to = to;
        v.weight = index_weights[to] + from;
        v.Visit();
    }
}

void TConnectedConnections::Iterate(TIterateObj& v, int /*maskFilter*/) {
    CheckShape();
    v.Bind(network->GetLayer(fromLayer), network->GetLayer(toLayer));
    v.trainable = true;
    for (int to = 0; to < numTo; ++to) {
        double* row = index_weights[to];
        for (int from = 0; from < numFrom; ++from) {
            v.from = from;
            v.to = to;
            v.weight = row + from;
            v.Visit();
        }
    }
}

// The partner matrices have this class (Bind checks the type), so their storage has the same
// to-major layout: the partner weight of (from, to) sits at the same offset.
void TConnectedConnections::Iterate2(TIterateObj2& v, TBasicNetwork* second, int /*maskFilter*/) {
    CheckShape();
    v.Bind(network, second, fromLayer, toLayer);
    const TWeightStorage s2 = v.conns2->GetStorage();
    SYN_ASSERT(s2.nFrom == numFrom && s2.nTo == numTo);
    v.trainable = true;
    double* w = array_weights.data();
    double* w2 = s2.weights;
    for (int to = 0; to < numTo; ++to) {
        for (int from = 0; from < numFrom; ++from) {
            v.from = from;
            v.to = to;
            v.weight = w++;
            v.weight2 = w2++;
            v.Visit();
        }
    }
}

void TConnectedConnections::Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                                     int /*maskFilter*/) {
    CheckShape();
    v.Bind(network, second, third, fromLayer, toLayer);
    const TWeightStorage s2 = v.conns2->GetStorage();
    const TWeightStorage s3 = v.conns3->GetStorage();
    SYN_ASSERT(s2.nFrom == numFrom && s2.nTo == numTo);
    SYN_ASSERT(s3.nFrom == numFrom && s3.nTo == numTo);
    v.trainable = true;
    double* w = array_weights.data();
    double* w2 = s2.weights;
    double* w3 = s3.weights;
    for (int to = 0; to < numTo; ++to) {
        for (int from = 0; from < numFrom; ++from) {
            v.from = from;
            v.to = to;
            v.weight = w++;
            v.weight2 = w2++;
            v.weight3 = w3++;
            v.Visit();
        }
    }
}

const char* TConnectedConnections::GetConnectionsNType() const {
    return kConnectedType;
}

TBasicConnections* TConnectedConnections::Clone(TBasicNetwork* owner) {
    return new TConnectedConnections(owner, fromLayer, toLayer, numFrom, numTo, array_weights);
}

void TConnectedConnections::RemoveFromNeuron(int index) {
    SYN_ASSERT(index >= 0 && index < numFrom);
    const int nFrom = numFrom - 1;
    SYN_ASSERT(nFrom == NumFrom());
    std::vector<double> weights(Cells(nFrom, numTo));
    double* out = weights.data();
    for (int to = 0; to < numTo; ++to) {
        const double* row = index_weights[to];
        for (int from = 0; from < nFrom; ++from)
            *out++ = row[from >= index ? from + 1 : from];
    }
    Reshape(nFrom, numTo, std::move(weights));
}

void TConnectedConnections::RemoveToNeuron(int index) {
    SYN_ASSERT(index >= 0 && index < numTo);
    const int nTo = numTo - 1;
    SYN_ASSERT(nTo == NumTo());
    std::vector<double> weights(Cells(numFrom, nTo));
    double* out = weights.data();
    for (int to = 0; to < nTo; ++to) {
        const double* row = index_weights[to >= index ? to + 1 : to];
        for (int from = 0; from < numFrom; ++from)
            *out++ = row[from];
    }
    Reshape(numFrom, nTo, std::move(weights));
}

void TConnectedConnections::InsertFromNeuron(int index, double lo, double hi, bool attached) {
    SYN_ASSERT(attached);
    SYN_ASSERT(index >= 0 && index <= numFrom);
    const int nFrom = numFrom + 1;
    SYN_ASSERT(nFrom == NumFrom());
    std::vector<double> weights(Cells(nFrom, numTo));
    for (int to = 0; to < numTo; ++to) {
        const double* row = index_weights[to];
        double* out = weights.data() + Cells(nFrom, to);
        for (int from = 0; from < numFrom; ++from)
            out[from >= index ? from + 1 : from] = row[from];
    }
    // The new column is drawn even when lo == hi, one number per to-neuron in order.
    for (int to = 0; to < numTo; ++to)
        weights[Cells(nFrom, to) + static_cast<std::size_t>(index)] = RandomWeight(lo, hi);
    Reshape(nFrom, numTo, std::move(weights));
}

void TConnectedConnections::InsertToNeuron(int index, double lo, double hi, bool attached) {
    SYN_ASSERT(attached);
    SYN_ASSERT(index >= 0 && index <= numTo);
    const int nTo = numTo + 1;
    SYN_ASSERT(nTo == NumTo());
    std::vector<double> weights(Cells(numFrom, nTo));
    for (int to = 0; to < numTo; ++to) {
        const double* row = index_weights[to];
        double* out = weights.data() + Cells(numFrom, to >= index ? to + 1 : to);
        for (int from = 0; from < numFrom; ++from)
            out[from] = row[from];
    }
    // The new row is drawn even when lo == hi, one number per from-neuron in order.
    double* fresh = weights.data() + Cells(numFrom, index);
    for (int from = 0; from < numFrom; ++from)
        fresh[from] = RandomWeight(lo, hi);
    Reshape(numFrom, nTo, std::move(weights));
}

TWeightStorage TConnectedConnections::GetStorage() {
    TWeightStorage s;
    s.weights = array_weights.data();
    s.masks = nullptr;
    s.nFrom = numFrom;
    s.nTo = numTo;
    return s;
}

}  // namespace synapsor
