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
using Bits = std::vector<std::uint64_t>;

Bits BitsOf(const double* x, std::size_t n) {
    Bits bits(n);
    std::memcpy(bits.data(), x, n * sizeof(double));
    return bits;
}
Bits CellBits(const TBinnedArray& a) {
    return BitsOf(a.Cells(), a.Size() * kBinnedCellDoubles);
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
double Binade(Random& r, int lo, int hi) {  // a random double in [2^lo, 2^(hi+1)), either sign
    return Signed(r, std::ldexp(Uniform(r, 1, 2), Int(r, lo, hi)));
}

// Term k of a sum; with `pairs`, every term k = 1 mod 3 is the negation of the one before.
struct TermCase {
    const char* name;
    double (*draw)(Random&, int k);
    bool pairs = false;
};
const TermCase kCases[] = {
    {"exponents from 1e-300 to 1e300", [](Random& r, int) { return Binade(r, -997, 996); }},
    {"one magnitude, positive", [](Random& r, int) { return Uniform(r, 1, 2); }},
    {"pairs x, -x and small values",
     [](Random& r, int k) { return k % 3 ? Uniform(r, -1e-5, 1e-5) : Binade(r, 0, 600); }, true},
    {"subnormals, signed zeros, smallest normals",
     [](Random& r, int) {
         const double kinds[] = {Int(r, 1, 1 << 20) * DBL_TRUE_MIN, 0.0,
                                 Uniform(r, 1, 2) * DBL_MIN};
         return Signed(r, kinds[r() % 3]);
     }},
    {"negatives near the top of the range", [](Random& r, int) { return -Binade(r, 900, 1000); }},
    // Raising the level: deposited in order the large value comes first, reversed it comes last.
    {"one value a level above the others",
     [](Random& r, int k) { return k ? Binade(r, -10, 10) : Binade(r, 40, 41); }},
    {"one value two levels above the others",
     [](Random& r, int k) { return k ? Binade(r, -10, 10) : Binade(r, 72, 73); }},
    {"one value above every bin of the others",
     [](Random& r, int k) { return k ? Binade(r, -10, 10) : Binade(r, 130, 131); }},
    {"a few large among many small",
     [](Random& r, int) { return r() % 16 ? Binade(r, -80, -67) : Binade(r, 60, 67); }},
};

// terms[i]: the m terms of sum i; Row(terms, t): term t of every sum, as Deposit takes them.
std::vector<std::vector<double>> Terms(const TermCase& c, Random& r, std::size_t n, int m) {
    std::vector<std::vector<double>> terms(n);
    for (std::vector<double>& t : terms)
        for (int k = 0; k < m; k++)
            t.push_back(c.pairs && k % 3 == 1 ? -t.back() : c.draw(r, k));
    return terms;
}
std::vector<double> Row(const std::vector<std::vector<double>>& terms, std::size_t t) {
    std::vector<double> row;
    for (const std::vector<double>& column : terms)
        row.push_back(column[t]);
    return row;
}

// The sign of the exact sum of `terms`, in units of 2^-1074: 32-bit digits added into 64-bit
// limbs, then carried once.
int SignOfSum(const std::vector<double>& terms) {
    __extension__ typedef unsigned __int128 Wide;
    std::vector<std::int64_t> limbs(72);
    for (double x : terms) {
        std::uint64_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        const int e = static_cast<int>((bits >> 52) & 0x7FF), at = std::max(e, 1) - 1;
        const Wide mant = (bits & ((std::uint64_t{1} << 52) - 1)) | (e > 0 ? Wide{1} << 52 : 0);
        const Wide shifted = mant << (at % 32);  // x = mant * 2^(at - 1074)
        for (int k = 0; k < 3; k++) {
            const auto digit = static_cast<std::int64_t>((shifted >> (32 * k)) & 0xFFFFFFFFu);
            limbs[static_cast<std::size_t>(at / 32 + k)] += std::signbit(x) ? -digit : digit;
        }
    }
    std::int64_t carry = 0;
    int sign = 0;
    for (std::int64_t limb : limbs) {
        const std::int64_t v = limb + carry;
        carry = v >> 32;  // rounds toward minus infinity
        sign |= (v & 0xFFFFFFFF) != 0;
    }
    return carry < 0 ? -1 : sign;
}

// Each sum exact within m 2^-64 max|term| + ulp(result), the header's bound; and the same bits
// for every order and grouping of its terms.
TEST(BinnedSum, AnyOrderAndGroupingGivesTheSameBitsWithinTheBound) {
    Random r(27);
    const std::size_t n = 37;
    const int m = 60;
    for (const TermCase& c : kCases) {
        SCOPED_TRACE(c.name);
        std::vector<std::vector<double>> terms = Terms(c, r, n, m);
        TBinnedArray inOrder(n);
        for (int t = 0; t < m; t++)
            inOrder.Deposit(Row(terms, t).data());
        TBinnedArray reversed(n);
        for (int t = m; t-- > 0;)
            reversed.Deposit(Row(terms, static_cast<std::size_t>(t)).data());
        EXPECT_EQ(CellBits(reversed), CellBits(inOrder)) << "reversed";
        for (std::size_t i = 0; i < n; i++) {
            std::vector<double> low = terms[i];
            double largest = 0;
            for (double x : low)
                largest = std::max(largest, std::fabs(x));
            const double result = inOrder.Value(i);
            const double ulp = std::nextafter(std::fabs(result), INFINITY) - std::fabs(result);
            low.insert(low.end(), {-result, -m * std::ldexp(largest, -64), -ulp});
            std::vector<double> high = low;  // low: exact - result - bound; high: + bound
            for (std::size_t k = low.size() - 2; k < low.size(); k++)
                high[k] = -low[k];
            EXPECT_TRUE(SignOfSum(low) <= 0 && SignOfSum(high) >= 0)
                << "sum " << i << " = " << result;
        }
        for (int trial = 0; trial < 4; trial++) {
            // Every sum's terms in its own order, dealt out to parts at random.
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
            // The raw cells, merged the other way round, as between processes.
            std::vector<double> raw(parts.back().Cells(), parts.back().Cells() + 4 * n);
            for (std::size_t p = parts.size() - 1; p-- > 0;)
                MergeBinnedCells(parts[p].Cells(), raw.data(), n);
            EXPECT_EQ(BitsOf(raw.data(), raw.size()), CellBits(inOrder)) << "raw cells";
        }
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
                const double v = Binade(r, 0, 20);
                vector.DepositOne(i, v);
                cellwise.DepositOne(i, v);
                sparse.DepositOne(i, v);
            }
            // Wide spreads of exponents first (raises in most vectors), narrower ones later.
            for (int round = 0; round < 8; round++) {
                std::vector<double> x(n);
                for (double& v : x)
                    v = r() % 5 ? Binade(r, -1074, 1000 - 150 * round) : Signed(r, 0.0);
                vector.Deposit(x.data());
                (round % 2 ? odd : even).Deposit(x.data());
                for (std::size_t i = 0; i < n; i++)
                    cellwise.DepositOne(i, x[i]);
                EXPECT_EQ(CellBits(vector), CellBits(cellwise)) << "deposit " << round;
            }
            std::vector<double> finished(n), values(n);
            vector.Finish(finished.data());
            for (std::size_t i = 0; i < n; i++)
                values[i] = cellwise.Value(i);
            EXPECT_EQ(BitsOf(finished.data(), n), BitsOf(values.data(), n)) << "finish";
            TBinnedArray merged(n);
            for (const TBinnedArray* part : {&sparse, &odd, &even})
                merged.Merge(*part);
            EXPECT_EQ(CellBits(merged), CellBits(cellwise)) << "merges";
        }
    }
    hwy::SetSupportedTargetsForTest(0);
}

}  // namespace
}  // namespace synapsor
