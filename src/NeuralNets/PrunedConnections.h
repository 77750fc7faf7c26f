// The pruneable weight matrix ("Pruneable"): single connections can be removed (pruned),
// restored and frozen against training. Beside every weight it keeps a flag byte
// (FMaskExists | FMaskTrainable). Storage runs to-major: weight (from, to) is
// index_weights[to][from], its flag byte index_masks[to][from]. A new matrix has every weight
// 0.0 and every flag FMaskAll. The matrix remembers the shape of its own storage, so that a
// self-connection (from-layer == to-layer) resizes correctly when its layer has already changed
// size: Insert/Remove of a from- or to-neuron always grow or shrink that stored shape by one.
#pragma once

#include <vector>

#include "NeuralNets/Connections.h"

namespace synapsor {

class TPrunedConnections : public TBasicConnections {
  public:
    TPrunedConnections(TBasicNetwork* owner, int fromLayer, int toLayer);

    void Randomize(double lo, double hi) override;
    double& GetWeight(int from, int to) override { return index_weights[to][from]; }
    void AddNetInputs(double* net) override;
    bool IsValid(int from, int to) override;
    bool IsTrainable(int from, int to) override;
    void Prune(int from, int to) override;
    void Unprune(int from, int to) override;
    void SetTrainable(int from, int to) override;
    void SetUntrainable(int from, int to) override;
    void IterateTo(TIterateObj& v, int to, int maskFilter) override;
    void IterateFrom(TIterateObj& v, int from, int maskFilter) override;
    void Iterate(TIterateObj& v, int maskFilter) override;
    void Iterate2(TIterateObj2& v, TBasicNetwork* second, int maskFilter) override;
    void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                  int maskFilter) override;
    const char* GetConnectionsNType() const override;
    char GetFlags(int from, int to) override;
    void SetFlags(int from, int to, char val) override;  // stores any value, unchecked
    void Destroy() override { delete this; }
    TBasicConnections* Clone(TBasicNetwork* owner) override;
    void RemoveFromNeuron(int index) override;
    void RemoveToNeuron(int index) override;
    // The new weights are drawn at random (even when lo == hi) with flags FMaskAll when
    // `attached`; otherwise they are pruned (weight 0.0, flag 0) and nothing is drawn.
    void InsertFromNeuron(int index, double lo, double hi, bool attached) override;
    void InsertToNeuron(int index, double lo, double hi, bool attached) override;
    // Weights and masks with the shape of the storage.
    TWeightStorage GetStorage() override;

    std::vector<double> array_weights;
    std::vector<double*> index_weights;
    std::vector<unsigned char> array_masks;
    std::vector<unsigned char*> index_masks;

  private:
    // The deep copy behind Clone: takes the shape and contents of `source`, not the owner's layers.
    TPrunedConnections(TBasicNetwork* owner, const TPrunedConnections& source);
    // Fatal internal check that the storage matches the current sizes of the two layers.
    void CheckShape() const;
    template <typename V, typename Point>
    void VisitSelected(V& v, int maskFilter, Point point);
    // Installs new arrays of nFrom x nTo and points the row indexes at them.
    void Reshape(int nFrom, int nTo, std::vector<double>&& weights,
                 std::vector<unsigned char>&& masks);

    int storedFrom = 0;  // shape of the storage: storedTo rows of storedFrom weights
    int storedTo = 0;
};

}  // namespace synapsor
