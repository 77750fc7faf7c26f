// Reproducible sums: the same bits for any order and grouping of the terms, the exact sum within
// the stated bound, and the vector paths equal to the cell-by-cell ones on every vector target.
#include "Training/BinnedSum.h"

#include <gtest/gtest.h>
#include <hwy/targets.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace synapsor {
namespace {

using Random = std::mt19937_64;

std::vector<std::uint64_t> BitsOf(const double* x, std::size_t n) {
    std::vector<std::uint64_t> bits(n);
    std::memcpy(bits.data(), x, n * sizeof(double));
    return bits;
}
std::vector<std::uint64_t> CellBits(const TBinnedArray& a) {
    return BitsOf(a.Cells(), a.Size() * kBinnedCellDoubles);
}
std::vector<std::uint64_t> FinishBits(const TBinnedArray& a) {
    std::vector<double> out(a.Size());
    a.Finish(out.data());
    return BitsOf(out.data(), out.size());
}

double Uniform(Random& r, double lo, double hi) {
    return std::uniform_real_distribution<double>(lo, hi)(r);
}
int Int(Random& r, int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(r);
}
double Signed(Random& r, double x) {
    return r() % 2 ? -x : x;
}

// The terms of one sum, m of them.
struct TermCase {
    const char* name;
    void (*fill)(Random&, std::vector<double>&, int m);
};
const TermCase kCases[] = {
    {"exponents from 1e-300 to 1e300, both signs",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k < m; k++)
             t.push_back(Signed(r, std::ldexp(Uniform(r, 1, 2), Int(r, -997, 996))));
     }},
    {"one magnitude, positive",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k < m; k++)
             t.push_back(Uniform(r, 1, 2));
     }},
    {"pairs x, -x and small values",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k + 3 <= m; k += 3) {
             const double x = Signed(r, std::ldexp(Uniform(r, 1, 2), Int(r, 0, 600)));
             t.insert(t.end(), {x, -x, Uniform(r, -1e-5, 1e-5)});
         }
         std::shuffle(t.begin(), t.end(), r);
     }},
    {"subnormals, zeros of both signs, the smallest normals",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k < m; k++) {
             const double kinds[] = {Int(r, 1, 1 << 20) * DBL_TRUE_MIN, 0.0, -0.0,
                                     Uniform(r, 1, 2) * DBL_MIN};
             t.push_back(Signed(r, kinds[r() % 4]));
         }
     }},
    {"negatives near the top of the range",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k < m; k++)
             t.push_back(-std::ldexp(Uniform(r, 1, 2), Int(r, 900, 1000)));
     }},
    {"a few large values among many small ones",
     [](Random& r, std::vector<double>& t, int m) {
         for (int k = 0; k < m; k++)
             t.push_back(Signed(r, r() % 16 ? Uniform(r, 0, 1e-20) : Uniform(r, 0, 1e20)));
     }},
};

// terms[i]: the m terms of sum i; Row(terms, t): term t of every sum, as Deposit takes them.
std::vector<std::vector<double>> Terms(const TermCase& c, Random& r, std::size_t n, int m) {
    std::vector<std::vector<double>> terms(n);
    for (std::vector<double>& t : terms)
        c.fill(r, t, m);
    return terms;
}
std::vector<double> Row(const std::vector<std::vector<double>>& terms, std::size_t t) {
    std::vector<double> row;
    for (const std::vector<double>& column : terms)
        row.push_back(column[t]);
    return row;
}

// Every bin a multiple of its level's unit below 2^53 units, which keeps its additions exact (a
// value far below the top level once left exponent bits in its pieces and broke this).
void ExpectExactBins(const TBinnedArray& a) {
    for (std::size_t i = 0; i < a.Size(); i++) {
        const double* cell = a.Cells() + i * kBinnedCellDoubles;
        for (int k = 0; k < 3; k++) {
            const double unit = std::ldexp(1.0, kBinWidth * (static_cast<int>(cell[0]) - k) - 1074);
            const double bin = cell[1 + k];
            EXPECT_TRUE(unit > 0
                            ? std::fabs(bin) < std::ldexp(unit, 53) && std::fmod(bin, unit) == 0
                            : bin == 0)
                << "sum " << i << " bin " << k << " = " << bin;
        }
    }
}

TEST(BinnedSum, AnyOrderAndGroupingGivesTheSameBits) {
    Random r(27);
    const std::size_t n = 37;
    const int m = 60;
    for (const TermCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<double>> terms = Terms(c, r, n, m);
        TBinnedArray inOrder(n);
        for (int t = 0; t < m; t++)
            inOrder.Deposit(Row(terms, t).data());
        ExpectExactBins(inOrder);
        for (int trial = 0; trial < 4; trial++) {
            // Every sum's terms in its own order, the terms dealt out to parts at random.
            for (std::vector<double>& column : terms)
                std::shuffle(column.begin(), column.end(), r);
            std::vector<TBinnedArray> parts(static_cast<std::size_t>(Int(r, 1, 6)));
            for (TBinnedArray& part : parts)
                part.Resize(n);
            for (int t = 0; t < m; t++)
                parts[r() % parts.size()].Deposit(Row(terms, t).data());
            std::shuffle(parts.begin(), parts.end(), r);
            TBinnedArray merged(n);
            for (const TBinnedArray& part : parts)
                merged.Merge(part);
            EXPECT_EQ(CellBits(merged), CellBits(inOrder)) << "merged in one order";
            EXPECT_EQ(FinishBits(merged), FinishBits(inOrder));
            // The raw cells, merged the other way round, as between processes.
            std::vector<double> raw(parts.back().Cells(), parts.back().Cells() + 4 * n);
            for (std::size_t p = parts.size() - 1; p-- > 0;)
                MergeBinnedCells(parts[p].Cells(), raw.data(), n);
            EXPECT_EQ(BitsOf(raw.data(), raw.size()), CellBits(inOrder)) << "raw cells";
        }
    }
}

// The exact sum of doubles: a two's complement fixed-point number in units of 2^-1074, in
// 32-bit limbs, wide enough for 2^20 terms of the largest magnitude.
class ExactSum {
  public:
    void Add(double x) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const int e = static_cast<int>((bits >> 52) & 0x7FF);
        const std::uint64_t mant =
            (bits & ((std::uint64_t{1} << 52) - 1)) | (e > 0 ? std::uint64_t{1} << 52 : 0);
        const int shift = std::max(e, 1) - 1;  // x = mant * 2^(shift - 1074)
        const int off = shift % 32;
        const std::uint64_t lo = mant << off, hi = off > 0 ? mant >> (64 - off) : 0;
        const std::int64_t parts[3] = {static_cast<std::int64_t>(lo & 0xFFFFFFFFu),
                                       static_cast<std::int64_t>(lo >> 32),
                                       static_cast<std::int64_t>(hi)};
        std::int64_t carry = 0;
        for (std::size_t k = static_cast<std::size_t>(shift / 32); k < limbs.size(); k++) {
            const std::size_t p = k - static_cast<std::size_t>(shift / 32);
            const std::int64_t part = p < 3 ? parts[p] : 0;
            const std::int64_t s = limbs[k] + (std::signbit(x) ? -part : part) + carry;
            limbs[k] = static_cast<std::uint32_t>(s);
            carry = s >> 32;
        }
    }
    // Rounded to about 53 bits, which is enough to compare with an error bound.
    double ToDouble() const {
        std::vector<std::uint32_t> v = limbs;
        const bool negative = v.back() >> 31;
        for (std::size_t k = 0, carry = 1; negative && k < v.size(); k++) {
            const std::uint64_t s = std::uint64_t{~v[k]} + carry;
            v[k] = static_cast<std::uint32_t>(s);
            carry = s >> 32;
        }
        std::size_t top = v.size();
        while (top > 0 && v[top - 1] == 0)
            top--;
        double x = 0;
        const std::size_t low = top > 3 ? top - 3 : 0;
        for (std::size_t k = top; k-- > low;)
            x = x * 4294967296.0 + v[k];
        x = std::ldexp(x, 32 * static_cast<int>(low) - 1074);
        return negative ? -x : x;
    }

  private:
    std::vector<std::uint32_t> limbs = std::vector<std::uint32_t>(70);
};

// |result - exact| <= m 2^-64 max|term| + ulp(result): the header's bound.
TEST(BinnedSum, WithinTheStatedBoundOfTheExactSum) {
    Random r(64);
    const std::size_t n = 11;
    const int m = 45;
    for (const TermCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::vector<double>> terms = Terms(c, r, n, m);
        TBinnedArray sums(n);
        for (int t = 0; t < m; t++)
            sums.Deposit(Row(terms, t).data());
        for (std::size_t i = 0; i < n; i++) {
            ExactSum exact;
            double largest = 0;
            for (double x : terms[i]) {
                exact.Add(x);
                largest = std::max(largest, std::fabs(x));
            }
            const double result = sums.Value(i);
            exact.Add(-result);
            const double ulp = std::nextafter(std::fabs(result), INFINITY) - std::fabs(result);
            EXPECT_LE(std::fabs(exact.ToDouble()), m * std::ldexp(largest, -64) + ulp)
                << "sum " << i << " = " << result;
        }
    }
}

// Small values first and then a large one raise the level mid-way, moving or dropping bins.
TEST(BinnedSum, RaisingTheLevelMidwayEqualsTheLargeValueFirst) {
    struct Case {
        const char* name;
        std::vector<double> small;
        double large;
    };
    const Case kRaises[] = {
        {"the same level", {1.0, -0.375, 0x1p-40}, 0x1p10},
        {"one level up", {1.0 + 0x1p-52, -3.5, 0x1p-60}, 0x1p40},
        {"two levels up", {1.0 + 0x1p-52, -3.5, 0x1p-60}, -0x1p70},
        {"past every bin", {1.0, 0x1p-30, -7.25}, 0x1p130},
        {"subnormals, then a normal", {3 * DBL_TRUE_MIN, -DBL_MIN / 3}, 1.0},
    };
    const std::size_t n = 9;  // a whole vector and a cell left over on every target
    for (const Case& c : kRaises) {
        SCOPED_TRACE(c.name);
        TBinnedArray smallFirst(n), largeFirst(n), mergedIn(n);
        const std::vector<double> large(n, c.large);
        largeFirst.Deposit(large.data());
        mergedIn.Deposit(large.data());
        for (double v : c.small) {
            const std::vector<double> small(n, v);
            smallFirst.Deposit(small.data());
            largeFirst.Deposit(small.data());
            TBinnedArray one(n);
            one.Deposit(small.data());
            mergedIn.Merge(one);
        }
        smallFirst.Deposit(large.data());
        EXPECT_EQ(CellBits(smallFirst), CellBits(largeFirst));
        EXPECT_EQ(CellBits(mergedIn), CellBits(largeFirst)) << "small values merged in";
    }
}

// Deposits into cells that are empty, at the value's level or below it, and merges of cells at
// different levels and of empty cells, in arrays of sizes around the vector lengths.
TEST(BinnedSum, VectorPathsEqualCellByCellOnEveryTarget) {
    const std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    ASSERT_FALSE(targets.empty());
    for (int64_t target : targets) {
        hwy::SetSupportedTargetsForTest(target);
        SCOPED_TRACE(hwy::TargetName(target));
        Random r(static_cast<std::uint64_t>(target));
        for (std::size_t n : {1u, 3u, 8u, 17u, 203u}) {
            SCOPED_TRACE(n);
            TBinnedArray vector(n), cellwise(n), sparse(n), even(n), odd(n);
            for (std::size_t i = 16; i < n; i += 3) {  // whole vectors of empty cells first
                const double v = Signed(r, Uniform(r, 0, 1e6));
                vector.DepositOne(i, v);
                cellwise.DepositOne(i, v);
                sparse.DepositOne(i, v);
            }
            // Wide spreads of exponents first (raises in most vectors), narrower ones later.
            for (int round = 0; round < 8; round++) {
                std::vector<double> x(n);
                for (double& v : x)
                    v = r() % 5 ? Signed(r, std::ldexp(Uniform(r, 1, 2),
                                                       Int(r, -1074, 1000 - 150 * round)))
                                : Signed(r, 0.0);
                vector.Deposit(x.data());
                (round % 2 ? odd : even).Deposit(x.data());
                for (std::size_t i = 0; i < n; i++)
                    cellwise.DepositOne(i, x[i]);
                EXPECT_EQ(CellBits(vector), CellBits(cellwise)) << "deposit " << round;
            }
            std::vector<double> values(n);
            for (std::size_t i = 0; i < n; i++)
                values[i] = cellwise.Value(i);
            EXPECT_EQ(FinishBits(vector), BitsOf(values.data(), n)) << "finish";
            TBinnedArray merged(n);
            merged.Merge(sparse);
            merged.Merge(odd);
            merged.Merge(even);
            EXPECT_EQ(CellBits(merged), CellBits(cellwise)) << "merges";
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
}  // namespace synapsor
