#include "NeuralNets/PrunedConnections.h"

#include "Common/Assert.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

namespace {

bool HasBits(unsigned char flags, unsigned char bits) {
    return (flags & bits) == bits;
}

// The mask byte a weight must contain to pass `maskFilter`.
unsigned char FilterBits(int maskFilter) {
    return maskFilter == FMaskExists ? FMaskExists : FMaskAll;
}

}  // namespace

TPrunedConnections::TPrunedConnections(TBasicNetwork* owner, int from, int to)
    : TBasicConnections(owner, from, to) {
    const int nFrom = NumFrom();
    const int nTo = NumTo();
    const size_t n = static_cast<size_t>(nFrom) * nTo;
    Reshape(nFrom, nTo, std::vector<double>(n, 0.0), std::vector<unsigned char>(n, FMaskAll));
}

TPrunedConnections::TPrunedConnections(TBasicNetwork* owner, const TPrunedConnections& source)
    : TBasicConnections(owner, source.fromLayer, source.toLayer) {
    Reshape(source.storedFrom, source.storedTo, std::vector<double>(source.array_weights),
            std::vector<unsigned char>(source.array_masks));
}

void TPrunedConnections::Reshape(int nFrom, int nTo, std::vector<double>&& weights,
                                 std::vector<unsigned char>&& masks) {
    array_weights = std::move(weights);
    array_masks = std::move(masks);
    storedFrom = nFrom;
    storedTo = nTo;
    index_weights.resize(nTo);
    index_masks.resize(nTo);
    for (int t = 0; t < nTo; ++t) {
        index_weights[t] = array_weights.data() + static_cast<size_t>(t) * nFrom;
        index_masks[t] = array_masks.data() + static_cast<size_t>(t) * nFrom;
    }
}

void TPrunedConnections::CheckShape() const {
    SYN_ASSERT(storedFrom == NumFrom() && storedTo == NumTo());
}

void TPrunedConnections::Randomize(double lo, double hi) {
    const size_t n = array_weights.size();
    if (lo == hi) {
        for (size_t k = 0; k < n; ++k)
            if (array_masks[k] & FMaskTrainable)
                array_weights[k] = lo;
        return;
    }
    for (size_t k = 0; k < n; ++k)
        if (array_masks[k] & FMaskTrainable)
            array_weights[k] = RandomWeight(lo, hi);
}

void TPrunedConnections::AddNetInputs(double* net) {
    CheckShape();
    const double* in = network->layers[fromLayer]->values.data();
    const int nFrom = storedFrom;
    for (int to = 0; to < storedTo; ++to) {
        const double* w = index_weights[to];
        const unsigned char* m = index_masks[to];
        // A row whose connections all exist (the usual case) runs without a test per weight.
        unsigned char all = FMaskExists;
        for (int from = 0; from < nFrom; ++from)
            all &= m[from];
        double sum = 0.0;
        if (all & FMaskExists) {
            for (int from = 0; from < nFrom; ++from)
                sum += w[from] * in[from];
        } else {
            for (int from = 0; from < nFrom; ++from)
                if (m[from] & FMaskExists)
                    sum += w[from] * in[from];
        }
        net[to] += sum;
    }
}

bool TPrunedConnections::IsValid(int from, int to) {
    return (index_masks[to][from] & FMaskExists) != 0;
}

bool TPrunedConnections::IsTrainable(int from, int to) {
    return (index_masks[to][from] & FMaskTrainable) != 0;
}

void TPrunedConnections::Prune(int from, int to) {
    index_masks[to][from] = 0;
    index_weights[to][from] = 0.0;
}

void TPrunedConnections::Unprune(int from, int to) {
    if (index_masks[to][from] & FMaskExists)
        return;
    index_masks[to][from] = FMaskAll;
    index_weights[to][from] = 0.0;
}

void TPrunedConnections::SetTrainable(int from, int to) {
    if (index_masks[to][from] & FMaskExists)
        index_masks[to][from] |= FMaskTrainable;
}

void TPrunedConnections::SetUntrainable(int from, int to) {
    index_masks[to][from] &= static_cast<unsigned char>(~FMaskTrainable);
}

void TPrunedConnections::IterateTo(TIterateObj& v, int to, int maskFilter) {
    CheckShape();
    v.Bind(network->layers[fromLayer].get(), network->layers[toLayer].get());
    const unsigned char bits = FilterBits(maskFilter);
    const unsigned char* m = index_masks[to];
    for (int from = 0; from < storedFrom; ++from) {
        if (!HasBits(m[from], bits))
            continue;
        v.from = from;
        v.to = to;
        v.weight = &index_weights[to][from];
        v.trainable = (m[from] & FMaskTrainable) != 0;
        v.Visit();
    }
}

void TPrunedConnections::IterateFrom(TIterateObj& v, int from, int maskFilter) {
    CheckShape();
    v.Bind(network->layers[fromLayer].get(), network->layers[toLayer].get());
    const unsigned char bits = FilterBits(maskFilter);
    for (int to = 0; to < storedTo; ++to) {
        const unsigned char m = index_masks[to][from];
        if (!HasBits(m, bits))
            continue;
        v.from = from;
        v.to = to;
        v.weight = &index_weights[to][from];
        v.trainable = (m & FMaskTrainable) != 0;
        v.Visit();
    }
}

// Visits every weight whose flag byte passes maskFilter, to outer and from inner: `point`
// sets the visitor's weight cells for (from, to), then from, to and trainable are set and the
// visitor called. Shared by the one-, two- and three-network walks.
template <typename V, typename Point>
void TPrunedConnections::VisitSelected(V& v, int maskFilter, Point point) {
    const unsigned char bits = FilterBits(maskFilter);
    for (int to = 0; to < storedTo; ++to) {
        for (int from = 0; from < storedFrom; ++from) {
            const unsigned char m = index_masks[to][from];
            if (!HasBits(m, bits))
                continue;
            v.from = from;
            v.to = to;
            point(from, to);
            v.trainable = (m & FMaskTrainable) != 0;
            v.Visit();
        }
    }
}

void TPrunedConnections::Iterate(TIterateObj& v, int maskFilter) {
    CheckShape();
    v.Bind(network->layers[fromLayer].get(), network->layers[toLayer].get());
    VisitSelected(v, maskFilter, [&](int from, int to) { v.weight = &index_weights[to][from]; });
}

void TPrunedConnections::Iterate2(TIterateObj2& v, TBasicNetwork* second, int maskFilter) {
    CheckShape();
    v.Bind(network, second, fromLayer, toLayer);
    // Bind has checked that the partner is of this class and joins layers of the same sizes.
    auto* partner = static_cast<TPrunedConnections*>(v.conns2);
    partner->CheckShape();
    VisitSelected(v, maskFilter, [&](int from, int to) {
        v.weight = &index_weights[to][from];
        v.weight2 = &partner->index_weights[to][from];
    });
}

void TPrunedConnections::Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                                  int maskFilter) {
    CheckShape();
    v.Bind(network, second, third, fromLayer, toLayer);
    auto* partner2 = static_cast<TPrunedConnections*>(v.conns2);
    auto* partner3 = static_cast<TPrunedConnections*>(v.conns3);
    partner2->CheckShape();
    partner3->CheckShape();
    VisitSelected(v, maskFilter, [&](int from, int to) {
        v.weight = &index_weights[to][from];
        v.weight2 = &partner2->index_weights[to][from];
        v.weight3 = &partner3->index_weights[to][from];
    });
}

const char* TPrunedConnections::GetConnectionsNType() const {
    static const char kType[] = "Pruneable";
    return kType;
}

char TPrunedConnections::GetFlags(int from, int to) {
    return static_cast<char>(index_masks[to][from]);
}

void TPrunedConnections::SetFlags(int from, int to, char val) {
    index_masks[to][from] = static_cast<unsigned char>(val);
}

TBasicConnections* TPrunedConnections::Clone(TBasicNetwork* owner) {
    return new TPrunedConnections(owner, *this);
}

void TPrunedConnections::RemoveFromNeuron(int index) {
    SYN_ASSERT(index >= 0 && index < storedFrom);
    const int nFrom = storedFrom - 1;
    const int nTo = storedTo;
    std::vector<double> w(static_cast<size_t>(nFrom) * nTo);
    std::vector<unsigned char> m(w.size());
    for (int to = 0; to < nTo; ++to) {
        for (int from = 0; from < nFrom; ++from) {
            const int old = from >= index ? from + 1 : from;
            w[static_cast<size_t>(to) * nFrom + from] = index_weights[to][old];
            m[static_cast<size_t>(to) * nFrom + from] = index_masks[to][old];
        }
    }
    Reshape(nFrom, nTo, std::move(w), std::move(m));
}

void TPrunedConnections::RemoveToNeuron(int index) {
    SYN_ASSERT(index >= 0 && index < storedTo);
    const int nFrom = storedFrom;
    const int nTo = storedTo - 1;
    std::vector<double> w(static_cast<size_t>(nFrom) * nTo);
    std::vector<unsigned char> m(w.size());
    for (int to = 0; to < nTo; ++to) {
        const int old = to >= index ? to + 1 : to;
        for (int from = 0; from < nFrom; ++from) {
            w[static_cast<size_t>(to) * nFrom + from] = index_weights[old][from];
            m[static_cast<size_t>(to) * nFrom + from] = index_masks[old][from];
        }
    }
    Reshape(nFrom, nTo, std::move(w), std::move(m));
}

namespace {

// The weight and flag byte of a connection opened by a neuron insertion.
void NewConnection(double& weight, unsigned char& mask, double lo, double hi, bool attached) {
    if (attached) {
        weight = RandomWeight(lo, hi);
        mask = FMaskAll;
    } else {
        weight = 0.0;
        mask = 0;
    }
}

}  // namespace

void TPrunedConnections::InsertFromNeuron(int index, double lo, double hi, bool attached) {
    SYN_ASSERT(index >= 0 && index <= storedFrom);
    const int nFrom = storedFrom + 1;
    const int nTo = storedTo;
    std::vector<double> w(static_cast<size_t>(nFrom) * nTo);
    std::vector<unsigned char> m(w.size());
    for (int to = 0; to < nTo; ++to) {
        for (int old = 0; old < storedFrom; ++old) {
            const int from = old >= index ? old + 1 : old;
            w[static_cast<size_t>(to) * nFrom + from] = index_weights[to][old];
            m[static_cast<size_t>(to) * nFrom + from] = index_masks[to][old];
        }
    }
    for (int to = 0; to < nTo; ++to) {
        const size_t k = static_cast<size_t>(to) * nFrom + index;
        NewConnection(w[k], m[k], lo, hi, attached);
    }
    Reshape(nFrom, nTo, std::move(w), std::move(m));
}

void TPrunedConnections::InsertToNeuron(int index, double lo, double hi, bool attached) {
    SYN_ASSERT(index >= 0 && index <= storedTo);
    const int nFrom = storedFrom;
    const int nTo = storedTo + 1;
    std::vector<double> w(static_cast<size_t>(nFrom) * nTo);
    std::vector<unsigned char> m(w.size());
    for (int old = 0; old < storedTo; ++old) {
        const int to = old >= index ? old + 1 : old;
        for (int from = 0; from < nFrom; ++from) {
            w[static_cast<size_t>(to) * nFrom + from] = index_weights[old][from];
            m[static_cast<size_t>(to) * nFrom + from] = index_masks[old][from];
        }
    }
    for (int from = 0; from < nFrom; ++from) {
        const size_t k = static_cast<size_t>(index) * nFrom + from;
        NewConnection(w[k], m[k], lo, hi, attached);
    }
    Reshape(nFrom, nTo, std::move(w), std::move(m));
}

TWeightStorage TPrunedConnections::GetStorage() {
    TWeightStorage s;
    s.weights = array_weights.data();
    s.masks = array_masks.data();
    s.nFrom = storedFrom;
    s.nTo = storedTo;
    return s;
}

}  // namespace synapsor
