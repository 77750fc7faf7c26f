// Reproducible sums (BinnedSum.h). A cell is {J, bin0, bin1, bin2}: bin k holds a multiple of the
// unit of level J - k, where level l's unit is 2^(kBinWidth * l - 1074). A value x enters at the
// levels J, J-1, J-2 as the differences of its truncations toward zero at those units:
//   t_k = trunc(x, unit(J - k)),  bin0 += t0,  bin1 += t1 - t0,  bin2 += t2 - t1,
// every difference and every addition exact. The piece of x at a given level does not depend on
// J, so a cell holds, bin by bin, the exact sum of all pieces at its levels, whatever the order.
// J only rises (to the level the largest value needs); raising it moves the bins down and drops
// those below the new third level, whose pieces the final J would have dropped anyway. Merging
// brings both cells to the higher level and adds the bins. No bin ever carries into another.
//
// Exactness of the bins: a piece at level l is a multiple of its unit below 2^kBinWidth units,
// so kMaxBinnedTerms = 2^20 of them stay below 2^52 units: exact in a double. The bins of values
// near the largest double can still overflow, as any sum of such values does.
//
// Highway compiles the part between HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE once per vector
// target (this file includes itself through foreach_target.h). Every target forms the same exact
// pieces and the same bins as the one-cell functions below, which DepositOne and Value use.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "Training/BinnedSum.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Training/BinnedSum.h"

#ifndef SYNAPSOR_TRAINING_BINNEDSUM_CELL_
#define SYNAPSOR_TRAINING_BINNEDSUM_CELL_
namespace synapsor {
namespace binned {

inline std::uint64_t Bits(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

inline double FromBits(std::uint64_t b) {
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

// The biased exponent, 1 for zero and subnormals (whose lowest bit is 2^-1074 too).
inline int Exponent1(std::uint64_t bits) {
    return std::max(static_cast<int>((bits >> 52) & 0x7FF), 1);
}

// The lowest level whose top bin holds x: |x| < 2^(kBinWidth * (level + 1) - 1074).
inline int NeedLevel(double x) {
    return (Exponent1(Bits(x)) + 51) / kBinWidth;
}

// x truncated toward zero to a multiple of level's unit: the mantissa bits below the unit
// cleared. When the unit is above x's leading bit (53 bits or more above its lowest), only the
// sign bit is kept: a zero of x's sign.
inline double Truncate(double x, int level) {
    const std::uint64_t bits = Bits(x);
    const int c = kBinWidth * level + 1 - Exponent1(bits);  // unit exponent - lowest bit exponent
    if (c <= 0)
        return x;
    return FromBits(bits & (~std::uint64_t{0} << (c > 52 ? 63 : c)));
}

// Raises a cell's level to `level` (above its own): the bins move down, those past the third
// are dropped, the new top bins start at zero. An empty cell (level -1) has zero bins.
inline void Raise(double* cell, int level) {
    const int d = level - static_cast<int>(cell[0]);
    const double b[3] = {cell[1], cell[2], cell[3]};
    for (int k = 0; k < 3; k++)
        cell[1 + k] = k >= d ? b[k - d] : 0.0;
    cell[0] = level;
}

inline void DepositCell(double* cell, double x) {
    const int need = NeedLevel(x);
    if (need > static_cast<int>(cell[0]))
        Raise(cell, need);
    const int j = static_cast<int>(cell[0]);
    const double t0 = Truncate(x, j);
    const double t1 = Truncate(x, j - 1);
    const double t2 = Truncate(x, j - 2);
    cell[1] += t0;
    cell[2] += t1 - t0;
    cell[3] += t2 - t1;
}

inline void MergeCell(const double* from, double* into) {
    const int jf = static_cast<int>(from[0]);
    if (jf < 0)
        return;
    if (jf > static_cast<int>(into[0]))
        Raise(into, jf);
    const int d = static_cast<int>(into[0]) - jf;
    for (int k = d; k < 3; k++)
        into[1 + k] += from[1 + k - d];
}

// The exact bins rounded by one fixed sequence of operations: (s, e) = TwoSum(bin0, bin1), then
// s + (e + bin2).
inline double FinishCell(const double* cell) {
    const double s = cell[1] + cell[2];
    const double bb = s - cell[1];
    const double e = (cell[1] - (s - bb)) + (cell[2] - bb);
    return s + (e + cell[3]);
}

}  // namespace binned
}  // namespace synapsor
#endif  // SYNAPSOR_TRAINING_BINNEDSUM_CELL_

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<double>;
using DI = hn::RebindToSigned<DF>;
using DU = hn::RebindToUnsigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;

// Bins moved down by d levels per lane (d >= 0, a whole number): bin k takes bin k - d, or zero.
HWY_INLINE void ShiftBins(VF d, VF& b0, VF& b1, VF& b2) {
    const DF df;
    const auto d0 = hn::Eq(d, hn::Zero(df));
    const auto d1 = hn::Eq(d, hn::Set(df, 1.0));
    const auto d2 = hn::Eq(d, hn::Set(df, 2.0));
    const VF zero = hn::Zero(df);
    b2 = hn::IfThenElse(d0, b2, hn::IfThenElse(d1, b1, hn::IfThenElse(d2, b0, zero)));
    b1 = hn::IfThenElse(d0, b1, hn::IfThenElse(d1, b0, zero));
    b0 = hn::IfThenElse(d0, b0, zero);
}

// 32 J + 1 for levels J held as doubles: J * 32 + 1 lands in the low bits of a double near
// 1.5 * 2^52, where one unit is 1, and the integer difference of the bit patterns is exact.
HWY_INLINE VI LevelBase(VF j) {
    const DF df;
    const DI di;
    const VF shifted = hn::Add(hn::Mul(j, hn::Set(df, kBinWidth)), hn::Set(df, 0x1.8p52 + 1));
    return hn::Sub(hn::BitCast(di, shifted), hn::BitCast(di, hn::Set(df, 0x1.8p52)));
}

// x's bits with those below 2^(lowest bit exponent + c) cleared, as Truncate: c <= 0 keeps
// them all, c > 52 only the sign bit. kPositive: c > 0 is known.
template <bool kPositive>
HWY_INLINE VF TruncateBits(hn::Vec<DU> bits, VI c) {
    const DF df;
    const DI di;
    const DU du;
    const VI low = kPositive ? c : hn::Max(c, hn::Zero(di));
    c = hn::IfThenElse(hn::Gt(c, hn::Set(di, 52)), hn::Set(di, 63), low);
    return hn::BitCast(df, hn::And(bits, hn::Set(du, ~std::uint64_t{0}) << hn::BitCast(du, c)));
}

// The levels of the N cells whose 4 N doubles are r0..r3: every fourth double.
HWY_INLINE VF Levels(VF r0, VF r1, VF r2, VF r3) {
#if HWY_TARGET == HWY_SCALAR
    (void)r1, (void)r2, (void)r3;
    return r0;
#else
    const DF df;
    return hn::ConcatEven(df, hn::ConcatEven(df, r3, r2), hn::ConcatEven(df, r1, r0));
#endif
}

// The pieces of x at the levels J, J-1, J-2 given c0 (see DepositImpl): the differences of its
// truncations at their units.
HWY_INLINE void Pieces(hn::Vec<DU> bits, VI c0, VF& q0, VF& q1, VF& q2) {
    const DI di;
    const VF t0 = TruncateBits<true>(bits, c0);
    const VF t1 = TruncateBits<false>(bits, hn::Sub(c0, hn::Set(di, kBinWidth)));
    const VF t2 = TruncateBits<false>(bits, hn::Sub(c0, hn::Set(di, 2 * kBinWidth)));
    q0 = t0;
    q1 = hn::Sub(t1, t0);
    q2 = hn::Sub(t2, t1);
}

// Cells are read as they lie (four vectors of doubles) and only their levels gathered; the
// pieces of the N values are interleaved with zeros into the same layout and added in place, so
// the levels gain +0 and the bins their pieces. A vector with a lane to raise (rare once every
// sum has seen its largest values; every lane after Clear) takes the cells apart instead.
void DepositImpl(double* cells, const double* x, std::size_t n) {
    const DF df;
    const DI di;
    const DU du;
    const std::size_t N = hn::Lanes(df);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    const __m512i kPairsLo = _mm512_setr_epi64(0, 8, 1, 9, 2, 10, 3, 11);
    const __m512i kPairsHi = _mm512_setr_epi64(4, 12, 5, 13, 6, 14, 7, 15);
    const __m512i kCells01 = _mm512_setr_epi64(0, 0, 1, 8, 0, 2, 3, 9);
    const __m512i kCells23 = _mm512_setr_epi64(0, 4, 5, 10, 0, 6, 7, 11);
    const __m512i kCells45 = _mm512_setr_epi64(0, 0, 1, 12, 0, 2, 3, 13);
    const __m512i kCells67 = _mm512_setr_epi64(0, 4, 5, 14, 0, 6, 7, 15);
    const __m512i kHalvesLo = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
    const __m512i kHalvesHi = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
#endif
    std::size_t i = 0;
    for (; i + N <= n; i += N) {
        double* c = cells + i * kBinnedCellDoubles;
        const VF r0 = hn::LoadU(df, c), r1 = hn::LoadU(df, c + N);
        const VF r2 = hn::LoadU(df, c + 2 * N), r3 = hn::LoadU(df, c + 3 * N);
        const auto bits = hn::BitCast(du, hn::LoadU(df, x + i));
        const VI e1 = hn::Max(
            hn::BitCast(di, hn::And(hn::ShiftRight<52>(bits), hn::Set(du, 0x7FF))), hn::Set(di, 1));
        // c0: level J's unit exponent, 32 J - 1074, minus x's lowest bit's, E1 - 1075. It is
        // below 21 exactly when x needs a level above J (or the cell is empty).
        const VF levels = Levels(r0, r1, r2, r3);
        const VI c0 = hn::Sub(LevelBase(levels), e1);
        VF q0, q1, q2;
        if (HWY_UNLIKELY(!hn::AllFalse(di, hn::Lt(c0, hn::Set(di, 21))))) {
            const VI need = hn::ShiftRight<5>(hn::Add(e1, hn::Set(di, 51)));
            if (hn::AllTrue(df, hn::Lt(levels, hn::Zero(df)))) {  // every cell empty (zero bins)
                const VF j = hn::ConvertTo(df, need), zero = hn::Zero(df);
                Pieces(bits, hn::Sub(LevelBase(j), e1), q0, q1, q2);
                q0 = hn::Add(zero, q0);  // +0, as the zero bins plus the pieces
                q1 = hn::Add(zero, q1);
                q2 = hn::Add(zero, q2);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
                // (J, q0) and (q1, q2) pairs of cells 0-3 and 4-7, then two cells per vector.
                const __m512d jLo = _mm512_permutex2var_pd(j.raw, kPairsLo, q0.raw);
                const __m512d jHi = _mm512_permutex2var_pd(j.raw, kPairsHi, q0.raw);
                const __m512d qLo = _mm512_permutex2var_pd(q1.raw, kPairsLo, q2.raw);
                const __m512d qHi = _mm512_permutex2var_pd(q1.raw, kPairsHi, q2.raw);
                hn::StoreU(VF{_mm512_permutex2var_pd(jLo, kHalvesLo, qLo)}, df, c);
                hn::StoreU(VF{_mm512_permutex2var_pd(jLo, kHalvesHi, qLo)}, df, c + N);
                hn::StoreU(VF{_mm512_permutex2var_pd(jHi, kHalvesLo, qHi)}, df, c + 2 * N);
                hn::StoreU(VF{_mm512_permutex2var_pd(jHi, kHalvesHi, qHi)}, df, c + 3 * N);
#else
                hn::StoreInterleaved4(j, q0, q1, q2, df, c);
#endif
                continue;
            }
            VF j, b0, b1, b2;
            hn::LoadInterleaved4(df, c, j, b0, b1, b2);
            const VF raised = hn::Max(j, hn::ConvertTo(df, need));
            ShiftBins(hn::Sub(raised, j), b0, b1, b2);
            Pieces(bits, hn::Sub(LevelBase(raised), e1), q0, q1, q2);
            hn::StoreInterleaved4(raised, hn::Add(b0, q0), hn::Add(b1, q1), hn::Add(b2, q2), df, c);
            continue;
        }
        Pieces(bits, c0, q0, q1, q2);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
        // Two-source permutes: the (q0, q1) pairs of cells 0-3 and of cells 4-7, then two cells'
        // pairs with their q2 and a zeroed level lane per output vector.
        const __m512d lo = _mm512_permutex2var_pd(q0.raw, kPairsLo, q1.raw);
        const __m512d hi = _mm512_permutex2var_pd(q0.raw, kPairsHi, q1.raw);
        const __mmask8 bins = 0xEE;
        const VF p0{_mm512_maskz_permutex2var_pd(bins, lo, kCells01, q2.raw)};
        const VF p1{_mm512_maskz_permutex2var_pd(bins, lo, kCells23, q2.raw)};
        const VF p2{_mm512_maskz_permutex2var_pd(bins, hi, kCells45, q2.raw)};
        const VF p3{_mm512_maskz_permutex2var_pd(bins, hi, kCells67, q2.raw)};
#else
        HWY_ALIGN double pieces[4 * hn::MaxLanes(df)];
        hn::StoreInterleaved4(hn::Zero(df), q0, q1, q2, df, pieces);
        const VF p0 = hn::Load(df, pieces), p1 = hn::Load(df, pieces + N);
        const VF p2 = hn::Load(df, pieces + 2 * N), p3 = hn::Load(df, pieces + 3 * N);
#endif
        hn::StoreU(hn::Add(r0, p0), df, c);
        hn::StoreU(hn::Add(r1, p1), df, c + N);
        hn::StoreU(hn::Add(r2, p2), df, c + 2 * N);
        hn::StoreU(hn::Add(r3, p3), df, c + 3 * N);
    }
    for (; i < n; i++)
        binned::DepositCell(cells + i * kBinnedCellDoubles, x[i]);
}

// Cells at the same level on both sides (the usual case: sums of terms of like magnitudes) are
// added as they lie, the levels of `from` masked to zero. Other vectors are taken apart; per
// lane the cell of the higher level keeps its bins, the other's move down to that level and are
// added. An empty cell (level -1, zero bins) adds zeros or takes the other's bins.
void MergeImpl(const double* from, double* into, std::size_t n) {
    const DF df;
    const DU du;
    const std::size_t N = hn::Lanes(df);
    using MF = decltype(hn::FirstN(df, 0));
    MF isLevel[4];  // per vector of a group of N cells, the lanes that hold levels
    for (std::size_t k = 0; k < 4; k++)
        isLevel[k] =
            hn::RebindMask(df, hn::Eq(hn::And(hn::Iota(du, k * N), hn::Set(du, 3)), hn::Zero(du)));
    std::size_t i = 0;
    for (; i + N <= n; i += N) {
        double* c = into + i * kBinnedCellDoubles;
        const double* f = from + i * kBinnedCellDoubles;
        VF ra[4], rb[4];
        for (std::size_t k = 0; k < 4; k++) {
            ra[k] = hn::LoadU(df, c + k * N);
            rb[k] = hn::LoadU(df, f + k * N);
        }
        if (hn::AllTrue(df, hn::Eq(Levels(ra[0], ra[1], ra[2], ra[3]),
                                   Levels(rb[0], rb[1], rb[2], rb[3])))) {
            for (std::size_t k = 0; k < 4; k++)
                hn::StoreU(hn::Add(ra[k], hn::IfThenZeroElse(isLevel[k], rb[k])), df, c + k * N);
            continue;
        }
        VF ja, a0, a1, a2, jb, b0, b1, b2;
        hn::LoadInterleaved4(df, c, ja, a0, a1, a2);
        hn::LoadInterleaved4(df, f, jb, b0, b1, b2);
        const auto fromHigher = hn::Gt(jb, ja);
        VF l0 = hn::IfThenElse(fromHigher, a0, b0);
        VF l1 = hn::IfThenElse(fromHigher, a1, b1);
        VF l2 = hn::IfThenElse(fromHigher, a2, b2);
        const VF high = hn::Max(ja, jb);
        ShiftBins(hn::Sub(high, hn::Min(ja, jb)), l0, l1, l2);
        hn::StoreInterleaved4(high, hn::Add(hn::IfThenElse(fromHigher, b0, a0), l0),
                              hn::Add(hn::IfThenElse(fromHigher, b1, a1), l1),
                              hn::Add(hn::IfThenElse(fromHigher, b2, a2), l2), df, c);
    }
    for (; i < n; i++)
        binned::MergeCell(from + i * kBinnedCellDoubles, into + i * kBinnedCellDoubles);
}

void FinishImpl(const double* cells, double* out, std::size_t n) {
    const DF df;
    const std::size_t N = hn::Lanes(df);
    std::size_t i = 0;
    for (; i + N <= n; i += N) {
        VF j, b0, b1, b2;
        hn::LoadInterleaved4(df, cells + i * kBinnedCellDoubles, j, b0, b1, b2);
        const VF s = hn::Add(b0, b1);
        const VF bb = hn::Sub(s, b0);
        const VF e = hn::Add(hn::Sub(b0, hn::Sub(s, bb)), hn::Sub(b1, bb));
        hn::StoreU(hn::Add(s, hn::Add(e, b2)), df, out + i);
    }
    for (; i < n; i++)
        out[i] = binned::FinishCell(cells + i * kBinnedCellDoubles);
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace synapsor {

HWY_EXPORT(DepositImpl);
HWY_EXPORT(MergeImpl);
HWY_EXPORT(FinishImpl);

void TBinnedArray::Resize(std::size_t sums) {
    size = sums;
    cells.resize(sums * kBinnedCellDoubles);
    Clear();
}

void TBinnedArray::Clear() {
    for (std::size_t i = 0; i < cells.size(); i += kBinnedCellDoubles) {
        cells[i] = -1.0;
        cells[i + 1] = cells[i + 2] = cells[i + 3] = 0.0;
    }
}

void TBinnedArray::Deposit(const double* x) {
    HWY_DYNAMIC_DISPATCH(DepositImpl)(cells.data(), x, size);
}

void TBinnedArray::DepositOne(std::size_t i, double x) {
    binned::DepositCell(cells.data() + i * kBinnedCellDoubles, x);
}

void TBinnedArray::Merge(const TBinnedArray& other) {
    HWY_DYNAMIC_DISPATCH(MergeImpl)(other.cells.data(), cells.data(), size);
}

void TBinnedArray::Finish(double* out) const {
    HWY_DYNAMIC_DISPATCH(FinishImpl)(cells.data(), out, size);
}

double TBinnedArray::Value(std::size_t i) const {
    return binned::FinishCell(cells.data() + i * kBinnedCellDoubles);
}

void FinishBinnedCells(const double* cells, double* out, std::size_t count) {
    HWY_DYNAMIC_DISPATCH(FinishImpl)(cells, out, count);
}

void MergeBinnedCells(const double* from, double* into, std::size_t count) {
    HWY_DYNAMIC_DISPATCH(MergeImpl)(from, into, count);
}

}  // namespace synapsor
#endif  // HWY_ONCE
