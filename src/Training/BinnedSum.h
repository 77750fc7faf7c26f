// Reproducible sums: many sums of doubles (one per gradient cell, say) whose results do not depend
// on the order or the grouping of the additions, so that partial sums formed by any number of
// threads or processes, merged in any order, finish to the same bits.
//
// Each sum keeps three bins at fixed exponent boundaries (multiples of kBinWidth bits, counted
// from the smallest subnormal) below a top bin chosen by the largest magnitude added so far. A
// value is cut at those boundaries (truncated toward zero) and each piece is added exactly into
// its bin; pieces below the third bin are dropped. Every bin then holds the exact sum of the
// pieces of every value at its level, whatever the order, and the result is that exact state
// rounded once at the end. The error against the exact sum is at most
// (values added) * 2^-64 * (largest magnitude added) plus about one unit in the last place of
// the result. At most kMaxBinnedTerms values may go into one sum (the bins stay exact).
//
// The state of one sum is one cell of kBinnedCellDoubles doubles: the top bin's level (-1: no
// value yet), then the three bins from the top down. Cells are plain doubles, so that they can
// travel between processes and be merged there (MergeBinnedCells).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace synapsor {

constexpr int kBinWidth = 32;
constexpr std::size_t kBinnedCellDoubles = 4;
constexpr std::uint64_t kMaxBinnedTerms = std::uint64_t{1} << 20;

class TBinnedArray {
  public:
    explicit TBinnedArray(std::size_t sums = 0) { Resize(sums); }

    // `sums` sums, every one empty (0).
    void Resize(std::size_t sums);
    // Every sum empty again; no allocation.
    void Clear();
    std::size_t Size() const { return size; }

    // Adds x[i] to sum i for every i < Size(). The values must be finite.
    void Deposit(const double* x);
    // Adds x to sum i alone.
    void DepositOne(std::size_t i, double x);
    // Adds every sum of `other` (of the same size) to this one's.
    void Merge(const TBinnedArray& other);
    // out[i] = sum i, rounded to a double.
    void Finish(double* out) const;
    double Value(std::size_t i) const;

    // The cells: Size() * kBinnedCellDoubles doubles.
    double* Cells() { return cells.data(); }
    const double* Cells() const { return cells.data(); }

  private:
    std::size_t size = 0;
    std::vector<double> cells;
};

// Merges `count` cells of `from` into those of `into`, as TBinnedArray::Merge does: the reduction
// operation with which processes combine their sums.
void MergeBinnedCells(const double* from, double* into, std::size_t count);

// out[i] = the sum of cell i of `cells`, for i < count, as TBinnedArray::Finish: for finishing a
// range of an array's cells.
void FinishBinnedCells(const double* cells, double* out, std::size_t count);

}  // namespace synapsor
