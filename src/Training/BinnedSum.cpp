#include "Training/BinnedSum.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace synapsor {
namespace {
std::uint64_t Bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, 8);
    return b;
}
double FromBits(std::uint64_t b) {
    double x;
    std::memcpy(&x, &b, 8);
    return x;
}
int Need(double x) {
    int e = static_cast<int>((Bits(x) >> 52) & 0x7ff);
    e = std::max(e, 1);
    return (e + 51) / kBinWidth;
}
double Trunc(double x, int unitExp) {
    int e = static_cast<int>((Bits(x) >> 52) & 0x7ff);
    e = std::max(e, 1);
    int c = unitExp - (e - 1075);
    if (c <= 0)
        return x;
    c = std::min(c, 63);
    return FromBits(Bits(x) & (~std::uint64_t{0} << c));
}
void Raise(double* cell, int to) {
    int J = static_cast<int>(cell[0]);
    if (J < 0) {
        cell[0] = to;
        cell[1] = cell[2] = cell[3] = 0.0;
        return;
    }
    int d = to - J;
    for (int k = 2; k >= 0; k--)
        cell[1 + k] = k - d >= 0 ? cell[1 + k - d] : 0.0;
    cell[0] = to;
}
void DepositCell(double* cell, double x) {
    int need = Need(x);
    if (static_cast<int>(cell[0]) < need)
        Raise(cell, need);
    int J = static_cast<int>(cell[0]);
    for (int k = 0; k < 3; k++) {
        double q = Trunc(x, kBinWidth * (J - k) - 1074);
        cell[1 + k] += q;
        x -= q;
    }
}
void MergeCell(const double* from, double* into) {
    if (from[0] < 0)
        return;
    double f[4];
    std::memcpy(f, from, sizeof f);
    if (into[0] < 0) {
        std::memcpy(into, f, sizeof f);
        return;
    }
    if (f[0] > into[0])
        Raise(into, static_cast<int>(f[0]));
    else if (into[0] > f[0])
        Raise(f, static_cast<int>(into[0]));
    for (int k = 1; k < 4; k++)
        into[k] += f[k];
}
double FinishCell(const double* c) {
    if (c[0] < 0)
        return 0.0;
    double s = c[1] + c[2];
    double bb = s - c[1];
    double e = (c[1] - (s - bb)) + (c[2] - bb);
    return s + (e + c[3]);
}
}  // namespace
void TBinnedArray::Resize(std::size_t n) {
    size = n;
    cells.assign(n * kBinnedCellDoubles, 0.0);
    Clear();
}
void TBinnedArray::Clear() {
    for (std::size_t i = 0; i < size; i++) {
        double* c = &cells[i * 4];
        c[0] = -1;
        c[1] = c[2] = c[3] = 0;
    }
}
void TBinnedArray::Deposit(const double* x) {
    for (std::size_t i = 0; i < size; i++)
        DepositCell(&cells[i * 4], x[i]);
}
void TBinnedArray::DepositOne(std::size_t i, double x) {
    DepositCell(&cells[i * 4], x);
}
void TBinnedArray::Merge(const TBinnedArray& o) {
    MergeBinnedCells(o.Cells(), Cells(), size);
}
void TBinnedArray::Finish(double* out) const {
    for (std::size_t i = 0; i < size; i++)
        out[i] = FinishCell(&cells[i * 4]);
}
double TBinnedArray::Value(std::size_t i) const {
    return FinishCell(&cells[i * 4]);
}
void MergeBinnedCells(const double* from, double* into, std::size_t n) {
    for (std::size_t i = 0; i < n; i++)
        MergeCell(from + 4 * i, into + 4 * i);
}
}  // namespace synapsor
