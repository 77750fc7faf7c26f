// The fully connected weight matrix ("FullyConnected"): every from-neuron is connected to every
// to-neuron and every weight is trainable; there are no flag bytes. Storage runs to-major:
// weight (from, to) is index_weights[to][from]. GetWeights/SetWeights run from-major (from outer,
// to inner), unlike the visiting order of Iterate (to outer, from inner). Every operation that
// walks the storage first checks that the owner's layers still have the storage's shape.
#pragma once

#include <vector>

#include "NeuralNets/Connections.h"

namespace synapsor {

class TConnectedConnections : public TBasicConnections {
  public:
    TConnectedConnections(TBasicNetwork* owner, int fromLayer, int toLayer);

    int GetNumWeights(int maskFilter) override;
    int GetWeights(double* out, int maskFilter) override;
    int SetWeights(const double* in, int maskFilter) override;
    void Randomize(double lo, double hi) override;
    double& GetWeight(int from, int to) override { return index_weights[to][from]; }
    void AddNetInputs(double* net) override;
    bool IsValid(int, int) override { return true; }
    // A fully connected matrix cannot hold a missing or frozen weight: Prune and SetUntrainable
    // throw TException (kind "Bad Parameter") and change nothing. Unprune and SetTrainable do
    // nothing.
    void Prune(int from, int to) override;
    void Unprune(int, int) override {}
    void SetTrainable(int, int) override {}
    void SetUntrainable(int from, int to) override;
    void IterateTo(TIterateObj& v, int to, int maskFilter) override;
    void IterateFrom(TIterateObj& v, int from, int maskFilter) override;
    void Iterate(TIterateObj& v, int maskFilter) override;
    void Iterate2(TIterateObj2& v, TBasicNetwork* second, int maskFilter) override;
    void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                  int maskFilter) override;
    const char* GetConnectionsNType() const override;
    void Destroy() override { delete this; }
    TBasicConnections* Clone(TBasicNetwork* owner) override;
    void RemoveFromNeuron(int index) override;
    void RemoveToNeuron(int index) override;
    // `attached` must be true (fatal internal check); every new weight is drawn at random, even
    // when lo == hi.
    void InsertFromNeuron(int index, double lo, double hi, bool attached) override;
    void InsertToNeuron(int index, double lo, double hi, bool attached) override;
    TWeightStorage GetStorage() override;

    std::vector<double> array_weights;
    std::vector<double*> index_weights;

  private:
    // A matrix of the given shape and weights (to-major), for Clone: it does not read the owner's
    // layers, which may not be complete yet while a network is being copied.
    TConnectedConnections(TBasicNetwork* owner, int fromLayer, int toLayer, int nFrom, int nTo,
                          std::vector<double> weights);
    void Reshape(int nFrom, int nTo, std::vector<double>&& weights);
    // Fatal internal check unless the storage has the shape of the owner's two layers: the loops
    // over storage also index the layers' value arrays.
    void CheckShape() const;

    // The shape the storage was built for; it follows the layers through the resize operations.
    int numFrom = 0;
    int numTo = 0;
};

}  // namespace synapsor
