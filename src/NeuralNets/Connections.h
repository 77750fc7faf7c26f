// The weight-matrix interface. A network keeps one connections object for every ordered pair of
// layers (from-layer, to-layer); it holds the weights that carry the from-layer's outputs into
// the to-layer's net inputs. A weight is addressed by (from, to), neuron indices in the from- and
// to-layer, always in that order. The neuron counts are not stored here: they are read from the
// owner network's layers at every call. Objects are released through Destroy(), never deleted.
#pragma once

#include <vector>

namespace synapsor {

class TBasicNetwork;
class TIterateObj;
class TIterateObj2;
class TIterateObj3;

// Per-weight flag byte. 0 means no connection.
enum : char { FMaskExists = 1, FMaskTrainable = 2, FMaskAll = 3 };

// Direct view of a matrix's storage for hot loops that must not pay a virtual call per weight:
// nTo rows of nFrom weights, weight (from, to) at weights[to * nFrom + from]; masks laid out the
// same way, or null when every weight exists and is trainable. weights is null for a matrix
// without storage.
struct TWeightStorage {
    double* weights = nullptr;
    unsigned char* masks = nullptr;
    int nFrom = 0;
    int nTo = 0;
};

class TBasicConnections {
public:
    TBasicConnections(TBasicNetwork* owner, int fromLayer, int toLayer);
    TBasicConnections(const TBasicConnections&) = delete;
    TBasicConnections& operator=(const TBasicConnections&) = delete;

    virtual bool IsConnected() const { return true; }
    // maskFilter FMaskExists (1) selects every existing weight; any other value only existing
    // and trainable weights.
    virtual int GetNumWeights(int maskFilter);
    virtual int GetWeights(double* out, int maskFilter);
    virtual int SetWeights(const double* in, int maskFilter);
    // Every existing and trainable weight drawn with RandomWeight; lo == hi sets them to lo
    // without drawing.
    virtual void Randomize(double lo, double hi);
    virtual double& GetWeight(int from, int to) = 0;
    // net[to] += sum over existing weights of from-layer value times weight.
    virtual void AddNetInputs(double* net);
    virtual bool IsValid(int from, int to) = 0;
    virtual bool IsTrainable(int from, int to) { return IsValid(from, to); }
    virtual void Prune(int from, int to);          // fatal internal check in the base
    virtual void Unprune(int from, int to);        // fatal internal check in the base
    virtual void SetTrainable(int from, int to);   // fatal internal check in the base
    virtual void SetUntrainable(int from, int to); // fatal internal check in the base
    // Visits into one to-neuron (from ascending), out of one from-neuron (to ascending), or all
    // (to outer, from inner). Each binds the visitor to this matrix first.
    virtual void IterateTo(TIterateObj& v, int to, int maskFilter) = 0;
    virtual void IterateFrom(TIterateObj& v, int from, int maskFilter) = 0;
    virtual void Iterate(TIterateObj& v, int maskFilter) = 0;
    // As Iterate, also handing the visitor the weight at the same position of the same pair of
    // layers in `second` (and `third`), networks of identical shape.
    virtual void Iterate2(TIterateObj2& v, TBasicNetwork* second, int maskFilter) = 0;
    virtual void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third,
                          int maskFilter) = 0;
    // One static text per class ("Empty", "FullyConnected", "Pruneable"); the same class always
    // returns the same pointer, so callers may compare pointers.
    virtual const char* GetConnectionsNType() const = 0;
    virtual char GetFlags(int /*from*/, int /*to*/) { return FMaskAll; }
    // Classes without flags accept FMaskAll or FMaskExists and store nothing; any other value is
    // a fatal internal check.
    virtual void SetFlags(int from, int to, char val);
    virtual void Destroy() = 0;
    // Deep copy (weights and flags) belonging to `owner`, joining the same layer indices.
    virtual TBasicConnections* Clone(TBasicNetwork* owner) = 0;
    // The owner has just removed / inserted neuron `index` in the from-layer (to-layer) and
    // already changed that layer's numNodes; the matrix drops or opens a column (row).
    virtual void RemoveFromNeuron(int index) = 0;
    virtual void RemoveToNeuron(int index) = 0;
    virtual void InsertFromNeuron(int index, double lo, double hi, bool attached);
    virtual void InsertToNeuron(int index, double lo, double hi, bool attached);
    // Storage view for hot loops; the default is a matrix without storage.
    virtual TWeightStorage GetStorage() { return TWeightStorage(); }

    // The flag bytes of every existing weight in visiting order.
    std::vector<char> GetAllFlags();
    // SetFlags of the k-th existing weight (visiting order) to flags[k].
    void SetAllFlags(const unsigned char* flags);
    void SetAllUntrainable();

    int GetFromLayer() const { return fromLayer; }
    int GetToLayer() const { return toLayer; }
    // Neuron counts of the two layers, read from the owner network.
    int NumFrom() const;
    int NumTo() const;

    TBasicNetwork* network;
    int fromLayer;
    int toLayer;

protected:
    virtual ~TBasicConnections() = default;
};

// Stands in every pair of layers that is not connected: no weights, every visit empty.
class TEmptyConnections : public TBasicConnections {
public:
    TEmptyConnections(TBasicNetwork* owner, int fromLayer, int toLayer);

    bool IsConnected() const override { return false; }
    int GetNumWeights(int) override { return 0; }
    int GetWeights(double*, int) override { return 0; }
    int SetWeights(const double*, int) override { return 0; }
    void Randomize(double, double) override {}
    double& GetWeight(int from, int to) override;  // fatal internal check
    void AddNetInputs(double*) override {}
    bool IsValid(int, int) override { return false; }
    void IterateTo(TIterateObj&, int, int) override {}
    void IterateFrom(TIterateObj&, int, int) override {}
    void Iterate(TIterateObj&, int) override {}
    void Iterate2(TIterateObj2&, TBasicNetwork*, int) override {}
    void Iterate3(TIterateObj3&, TBasicNetwork*, TBasicNetwork*, int) override {}
    const char* GetConnectionsNType() const override;
    void Destroy() override { delete this; }
    TBasicConnections* Clone(TBasicNetwork* owner) override;
    void RemoveFromNeuron(int) override {}
    void RemoveToNeuron(int) override {}
    void InsertFromNeuron(int, double, double, bool) override {}
    void InsertToNeuron(int, double, double, bool) override {}
};

// True when flag byte `flags` passes `maskFilter` (see GetNumWeights).
inline bool PassesFilter(unsigned char flags, int maskFilter) {
    const unsigned char m = maskFilter == FMaskExists ? FMaskExists : FMaskAll;
    return (flags & m) == m;
}

// The single random-weight formula: lo + (rand() mod 32767) * (1/32767) * (hi - lo), the factor
// taken in extended precision. rand() is never seeded, so runs repeat exactly. Always draws.
double RandomWeight(double lo, double hi);

}  // namespace synapsor
