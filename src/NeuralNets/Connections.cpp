#include "NeuralNets/Connections.h"

#include <cstdlib>

#include "Common/Assert.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

double RandomWeight(double lo, double hi) {
    const unsigned r = static_cast<unsigned>(std::rand()) % 32767u;
    const long double factor = 1.0L / 32767.0L;
    return static_cast<double>(lo + r * factor * (hi - lo));
}

// ---- TBasicConnections ----

TBasicConnections::TBasicConnections(TBasicNetwork* owner, int from, int to)
    : network(owner), fromLayer(from), toLayer(to) {}

int TBasicConnections::NumFrom() const {
    return network->layers[fromLayer]->numNodes;
}

int TBasicConnections::NumTo() const {
    return network->layers[toLayer]->numNodes;
}

int TBasicConnections::GetNumWeights(int maskFilter) {
    TIterateObjGetNumWeights v;
    Iterate(v, maskFilter);
    return v.count;
}

int TBasicConnections::GetWeights(double* out, int maskFilter) {
    TIterateObjGetWeights v(out);
    Iterate(v, maskFilter);
    return v.count;
}

int TBasicConnections::SetWeights(const double* in, int maskFilter) {
    TIterateObjSetWeights v(in);
    Iterate(v, maskFilter);
    return v.count;
}

void TBasicConnections::Randomize(double lo, double hi) {
    TIterateObjRandomize v(lo, hi);
    Iterate(v, 0);
}

void TBasicConnections::AddNetInputs(double* net) {
    const int nTo = NumTo();
    for (int to = 0; to < nTo; ++to) {
        TIterateObjAggregate v;
        IterateTo(v, to, FMaskExists);
        net[to] += v.sum;
    }
}

void TBasicConnections::Prune(int /*from*/, int /*to*/) {
    SYN_ASSERT(false);
}

void TBasicConnections::Unprune(int /*from*/, int /*to*/) {
    SYN_ASSERT(false);
}

void TBasicConnections::SetTrainable(int /*from*/, int /*to*/) {
    SYN_ASSERT(false);
}

void TBasicConnections::SetUntrainable(int /*from*/, int /*to*/) {
    SYN_ASSERT(false);
}

void TBasicConnections::SetFlags(int /*from*/, int /*to*/, char val) {
    // clang-format off
    SYN_ASSERT((val==FMaskAll) || (val==FMaskExists));
    // clang-format on
}

void TBasicConnections::InsertFromNeuron(int /*index*/, double /*lo*/, double /*hi*/,
                                         bool /*attached*/) {
    SYN_ASSERT(false);
}

void TBasicConnections::InsertToNeuron(int /*index*/, double /*lo*/, double /*hi*/,
                                       bool /*attached*/) {
    SYN_ASSERT(false);
}

std::vector<char> TBasicConnections::GetAllFlags() {
    std::vector<char> flags(GetNumWeights(FMaskExists));
    TIterateObjGetFlags v(flags.data());
    Iterate(v, FMaskExists);
    return flags;
}

void TBasicConnections::SetAllFlags(const unsigned char* flags) {
    TIterateObjSetFlags v(flags);
    Iterate(v, FMaskExists);
}

void TBasicConnections::SetAllUntrainable() {
    TIterateObjAllUntrainable v;
    Iterate(v, FMaskExists);
}

// ---- TEmptyConnections ----

TEmptyConnections::TEmptyConnections(TBasicNetwork* owner, int from, int to)
    : TBasicConnections(owner, from, to) {}

double& TEmptyConnections::GetWeight(int /*from*/, int /*to*/) {
    SYN_ASSERT(false);
}

const char* TEmptyConnections::GetConnectionsNType() const {
    static const char kType[] = "Empty";
    return kType;
}

TBasicConnections* TEmptyConnections::Clone(TBasicNetwork* owner) {
    return new TEmptyConnections(owner, fromLayer, toLayer);
}

}  // namespace synapsor
