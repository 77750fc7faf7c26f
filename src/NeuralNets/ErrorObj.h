// Error objects: accumulate, pattern by pattern, how far a network's outputs are from their
// targets, and report one number for a pass. TErrorRMSObj: root of the summed squared errors
// divided by outputs and patterns (a penalty added with AddPenalty sits inside the root).
// TErrorCrossEntropyObj: the plain summed cross-entropy, penalty included. An RMS error over no
// patterns (or no outputs), and a cross-entropy output outside [0, 1], throw TException ("Bad
// Parameter") instead of yielding nan; outputs of exactly 0 or 1 add 0 when the target equals
// them, else 1000000.
#pragma once

#include <memory>

namespace synapsor {

class TKQstructure;

// A number an "LWF" penalty structure must name (its rates: there is no sensible default for how
// fast to forget); a missing one throws TException ("Bad Parameter", `location`).
double RequiredLWFNumber(const TKQstructure* penalty, const char* keyword, const char* location);

class TErrorObj {
  public:
    explicit TErrorObj(int outputs) : numOutputs(outputs) {}
    virtual ~TErrorObj() = default;

    virtual void Reset() = 0;
    virtual void AddPattern(const double* target, const double* output) = 0;
    virtual double GetError() = 0;
    virtual void AddPenalty(int numWeights, const double* weights, TKQstructure* penalty) = 0;
    // Adds the patterns and sums of `other`, an object of the same kind and output count (a
    // fatal internal check otherwise, and in a kind that cannot merge): how the partial sums of
    // a pass split over several workers become the pass's. The result is that of adding other's
    // patterns after this object's, up to the order of the additions.
    virtual void Merge(const TErrorObj& other);
    // A reset object of the same kind and output count for a partial sum; null for a kind that
    // cannot merge.
    virtual std::unique_ptr<TErrorObj> NewEmpty() const { return nullptr; }
    // The sum the patterns have added so far (before GetError scales it), and the addition of a
    // sum of `patterns` patterns formed elsewhere: how a pass's sum, added up reproducibly over
    // threads and processes, comes back. A fatal internal check in a kind without such a sum.
    virtual double PatternSum() const;
    virtual void AddPatternSum(double patternSum, int patterns);

    // The value of the weight penalty `penalty` (head "NONE", "QUADPENALTY" or "LWF"; null means
    // none) for the given weights, times `scale`.
    double CalcPenalty(int numWeights, const double* weights, TKQstructure* penalty, double scale);

    int numOutputs;
    int numPatterns = 0;
};

class TErrorRMSObj : public TErrorObj {
  public:
    explicit TErrorRMSObj(int outputs) : TErrorObj(outputs) {}
    void Reset() override;
    void AddPattern(const double* target, const double* output) override;
    double GetError() override;
    void AddPenalty(int numWeights, const double* weights, TKQstructure* penalty) override;
    void Merge(const TErrorObj& other) override;
    std::unique_ptr<TErrorObj> NewEmpty() const override;
    double PatternSum() const override { return sum; }
    void AddPatternSum(double patternSum, int patterns) override;

    double sum = 0.0;
};

class TErrorCrossEntropyObj : public TErrorObj {
  public:
    explicit TErrorCrossEntropyObj(int outputs) : TErrorObj(outputs) {}
    void Reset() override;
    void AddPattern(const double* target, const double* output) override;
    double GetError() override;
    void AddPenalty(int numWeights, const double* weights, TKQstructure* penalty) override;
    void Merge(const TErrorObj& other) override;
    std::unique_ptr<TErrorObj> NewEmpty() const override;
    double PatternSum() const override { return sum; }
    void AddPatternSum(double patternSum, int patterns) override;

    double sum = 0.0;
};

}  // namespace synapsor
